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

#include <optional>

struct TRecipeFile {
    QString Path;     // absolute
    QString Sha256;   // of the file's bytes when the recipe was saved, lower-case hex
};

struct TRecipe {
    static constexpr int Version = 1;

    QString Name;
    std::optional<TRecipeFile> Kernel;
    std::optional<TRecipeFile> Program;
    // The settings, as TOperationInputs holds them (SetNadAlias, NadAliasText, SetHardwareModel,
    // HardwareModelIndex, SetIEXBaudRate, IEXBaudRateIndex, SetIPAddress, DHCP, the four
    // addresses, StartPlc, SetRtc); the serial number and file fields are not taken from here.
    TOperationInputs Settings;
    bool VerifyAfterSend = false;
    QString Series;   // empty: no serial number written
};

bool ReadRecipe(const QString& path, TRecipe& recipe, QString& error);
bool WriteRecipe(const QString& path, const TRecipe& recipe, QString& error);

// A recipe of the inputs as they stand: the files' hashes are read now; false and the reason
// when a checked file cannot be read.
bool RecipeFromInputs(const QString& name, const TOperationInputs& inputs, bool verifyAfterSend, const QString& series,
                      TRecipe& recipe, QString& error);
// The recipe's files and settings over inputs; the serial number fields are left alone.
void ApplyRecipe(const TRecipe& recipe, TOperationInputs& inputs);
// Reads each file of the recipe into images and checks it against its hash, before any unit
// is touched: "kernel file changed since the recipe was saved" (with the file's name), a
// missing or invalid file, each in words. The bytes checked are the bytes loaded.
bool LoadRecipeFiles(const TRecipe& recipe, TLoadedImages& images, QString& error);
// Whether the inputs are the recipe's: its files at its paths, ticked as in the recipe, and
// every setting as it holds them (its name and series aside).
bool InputsAreTheRecipe(const TRecipe& recipe, const TOperationInputs& inputs, bool verifyAfterSend);
// Whether files of these source hashes (empty: none) are the recipe's as pinned: each file
// the recipe has, with the recipe's hash, and no file the recipe has not.
bool FilesAsPinned(const TRecipe& recipe, const QString& kernelSha256, const QString& programSha256);
