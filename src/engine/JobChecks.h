// JobChecks: what both front ends check of a send job before the engine gets it, each check
// in one place, its refusal in words that name the front end's own inputs (the window's
// boxes, orvel-loader's options).
//
//   a job for several units (the station, --fresh, --all, several units named) -> no setting
//   that is one unit's: a static address, or a NAD alias other than 0 (none), would go to
//   every unit, and the units would collide on the line
//   every send job -> something to do: a file, a serial number or a unit setting to write, or
//   the PLC to start or the clock to set after it
#pragma once

#include "Job.h"

#include <QString>

// How a front end words the refusal of a setting that is one unit's: each setting as the
// operator gave it and what to do instead, what sends to several units and where one unit
// at a time is sent.
struct TOneUnitSettingWords {
    QString StaticAddress;   // "a static IP address", "--ip"
    QString UseDhcp;         // "choose DHCP", "use --dhcp"
    QString NadAlias;        // "a NAD alias", "--nad-alias"
    QString NoNadAlias;      // "untick it (or make it 0)", "leave it out (or 0)"
    QString Several;         // after "the same address": "", " with station, --fresh, ..."
    QString OneAtATime;      // after "send to one unit at a time": " from the main window", ""
};

// Why settings that go to several units must not: the first of them that is one unit's, in
// the front end's words; empty when there is none.
QString OneUnitSettingRefusal(const TUnitSettings& settings, const TOneUnitSettingWords& words);

// "nothing to send: " and how the operator gives a send something to do (the front end's
// words) when a job neither writes anything into a unit nor starts its PLC or sets its clock;
// empty when it does.
QString NothingToSendRefusal(const TJob& job, const QString& howToGiveIt);
