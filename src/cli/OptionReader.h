// OptionReader: reading orvel-loader's command line into TLoaderOptions, in two steps.
// Parse turns the text into values and refuses what the text alone shows to be wrong;
// Prepare then reads what the values name (the password file, the adapter table, the
// recipe and the image files, the window's serial number setting), still before any unit
// is touched. Each family of commands has its reading in a file of its own: UnitOptions
// (the link and the units), SendOptions (send, verify, station), StoreOptions (serials,
// records); LoaderOptions runs them in order.
#pragma once

#include "LoaderOptions.h"
#include "OptionTable.h"

#include <QCommandLineParser>

#include <optional>

class TOptionReader {
public:
    TOptionReader(const QCommandLineParser& parser, TLoaderOptions& options, const TLoaderEnvironment& environment)
        : P(parser), O(options), Environment(environment)
    {
    }

    QString Error;   // the first refusal
    // An empty text refuses nothing: a check that found nothing wrong says so with none.
    bool Ok() const { return Error.isEmpty(); }
    void Refuse(const QString& text)
    {
        if (Error.isEmpty())
            Error = text;
    }

    bool IsSet(const char* option) const { return P.isSet(QLatin1String(option)); }
    QString Value(const char* option) const { return P.value(QLatin1String(option)); }
    // A number the option table gives a range, which DeclaredRefusal checked; unchanged when
    // not given.
    template <typename T>
    void Number(const char* option, T& value) const
    {
        if (IsSet(option))
            value = T(DecimalNumber(Value(option)).value_or(0));
    }
    // A choice the option table declares: its item, refused in words when it names none.
    int Choice(const char* option);
    // A station or series name goes into every record, listing and log line: one line each.
    void Name(const char* option, const QString& name);
    // The station, --fresh, --all or more than one unit named.
    bool ManyUnits() const;

    const QCommandLineParser& P;
    TLoaderOptions& O;
    const TLoaderEnvironment& Environment;
    // The job the command line names, laid over a recipe's when Prepare has read it.
    TJob Given;
    // --recipe: its serial number source (a series, or none).
    std::optional<TSerialSource> RecipeSerial;
};

// UnitOptions.cpp: the link (every command takes it) and the units a command is run on.
void ParseLink(TOptionReader& reader);
void ParseUnits(TOptionReader& reader, QStringList positional);
void PrepareLink(TOptionReader& reader);

// SendOptions.cpp: the files and settings of send, verify and station, and where serial
// numbers come from.
void ParseSettings(TOptionReader& reader);
void ParseSerialSource(TOptionReader& reader);
void PrepareSettings(TOptionReader& reader);
void PrepareSerialSource(TOptionReader& reader);

// StoreOptions.cpp: serials and records.
void ParseSerials(TOptionReader& reader, const QStringList& positional);
void ParseRecordFilter(TOptionReader& reader);
