// Recipe: a job a line lead prepares once and an operator opens, so that a station cannot
// be started with the wrong files: the kernel and program files, each with the SHA-256 it
// had when the recipe was saved, the settings written to each unit, and where the serial
// numbers come from.
//
//   {"format": "orvel-recipe", "version": 1, "name": "release 3.1",
//    "kernel":  {"file": "/abs/kernel.bin",  "sha256": "<64 hex digits>"},   (absent: not sent)
//    "program": {"file": "/abs/program.bin", "sha256": "..."},
//    "settings": {"nadAlias": "12" | null, "model": "<model name>" | null,
//                 "iexBaudRate": "<rate name>" | null,
//                 "ip": null | {"dhcp": true} | {"dhcp": false, "address": "...", "mask": "...",
//                                                "gateway": "...", "dns": "..."},
//                 "startPlc": false, "setRtc": false, "verifyAfterSend": true},
//    "serials": {"series": "NAME"} | null}                       (null: no serial number written)
//
// A setting that is null is left as the unit has it. Unknown fields, a newer version, a
// malformed file or one over 64 KiB are refused in words; nothing in a recipe is trusted
// before it has been read whole and checked.
#pragma once

#include "LoaderSession.h"

#include <QString>

struct TRecipe {
    static constexpr int Version = 1;

    QString Name;
    // What every unit gets: its files pinned by their SHA-256, its settings, verify after send,
    // start PLC and set the clock, and its serial numbers from the series Job.Serial names
    // (none: no serial number is written).
    TJob Job;
};

bool ReadRecipe(const QString& path, TRecipe& recipe, QString& error);
bool WriteRecipe(const QString& path, const TRecipe& recipe, QString& error);

// A recipe of job, its serial numbers from series (empty: none): each file of the job is read
// now and pinned by its hash; false and the reason when one cannot be read.
bool RecipeOfJob(const QString& name, const TJob& job, const QString& series, TRecipe& recipe, QString& error);
// Whether job is the recipe's, its serial number source aside: the recipe's files at its
// paths (the bytes are checked when they are loaded), and every setting, verify, start and
// clock as the recipe has them.
bool JobIsTheRecipe(const TRecipe& recipe, const TJob& job);
// Whether files of these source hashes (empty: none) are the recipe's as pinned: each file
// the recipe has, with the recipe's hash, and no file the recipe has not.
bool FilesAsPinned(const TRecipe& recipe, const QString& kernelSha256, const QString& programSha256);
