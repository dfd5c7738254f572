// OptionTable: every option of orvel-loader declared once: the commands that list it in
// their help or take it unlisted, its help line, the range of a number, the names a choice
// takes, and the options it does not go with. The parser is built from it and the
// declared ranges and exclusions are checked from it, so that no command spells them out.
#pragma once

#include "LoaderCommand.h"
#include "SettingNames.h"

#include <QCommandLineParser>
#include <QStringList>

#include <cstdint>
#include <optional>

constexpr unsigned CommandBit(TCommand command)
{
    return 1u << unsigned(command);
}

// A whole number's bounds, both included.
struct TRange {
    int64_t Low;
    int64_t High;
};

// A setting chosen by name from a table of names.
struct TChoices {
    TNameTable Table;
    const char* What;   // as a refusal names it: "unknown hardware model"
    const char* Unit;   // may be left out on the command line: "kbps"; empty: none
};

struct TOptionDeclaration {
    const char* Names;       // "output" or "o,output"
    const char* ValueName;   // empty: a switch
    const char* Help;        // "%1": the choices in words
    unsigned Listed;         // CommandBit of each command whose help lists it
    unsigned Unlisted = 0;   // commands that take it all the same, without listing it
    std::optional<TRange> Range = std::nullopt;
    const TChoices* Choices = nullptr;
    // Taken by the Unlisted commands only to refuse it in these words.
    const char* Refusal = nullptr;
};

// Options that do not go together; the first given with any of the others is refused.
struct TExclusion {
    unsigned Commands;
    const char* Option;
    QStringList Others;
    const char* Text;
};

// The declaration of an option for a command; nullptr when the command does not take it.
const TOptionDeclaration* FindOption(TCommand command, const QString& name);
// The parser of a command, its options in the table's order.
void AddOptions(QCommandLineParser& parser, TCommand command);
// The first refusal the declarations make of what was given: an option taken only to be
// refused, a number out of its range, options that do not go together. Empty when none.
QString DeclaredRefusal(const QCommandLineParser& parser, TCommand command);
// The item of a choice the text names, with or without the unit; -1 when none.
int ChoiceIndex(const TChoices& choices, const QString& text);
// The choices as help and refusals list them: "20, 50, 100, 250 or 500 kbps".
QString ChoicesInWords(const TChoices& choices);
// A number on the command line: decimal digits, a minus sign at most before them, nothing
// else (no blanks, no hexadecimal), so that a slip of the keyboard is never read as a number.
std::optional<qlonglong> DecimalNumber(const QString& text);
