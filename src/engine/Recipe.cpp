#include "Recipe.h"

#include "ImageFiles.h"
#include "SettingNames.h"
#include "uEthernetUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

// A character that breaks the one line a name is shown on, or turns the text around it:
// controls, line and paragraph separators, and invisible format characters such as
// direction overrides.
bool IsLineBreaking(QChar c)
{
    switch (c.category()) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

const QString Format = QStringLiteral("orvel-recipe");
constexpr qint64 MaxRecipeSize = 64 * 1024;
constexpr int MaxNameLength = 200;

// A setting a recipe names an item of by its name.
struct TItemNames {
    const char* What;
    TNameTable Table;
};

const TItemNames Models{"model", HardwareModels};
const TItemNames BaudRates{"iexBaudRate", IEXBaudRates};

// A recipe's text, read field by field: the first fault found ends the reading, in words
// that name the field ("settings.ip.mask").
class TReader {
public:
    QString Error;
    bool Ok() const { return Error.isEmpty(); }

    // Refuses any field of object not in known.
    void OnlyKnown(const QJsonObject& object, const QString& where, const QStringList& known)
    {
        QStringList unknown;
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (!known.contains(it.key()))
                unknown << Field(where, it.key());
        }
        if (!unknown.isEmpty())
            Fail(QStringLiteral("unknown field") + (unknown.size() > 1 ? QStringLiteral("s ") : QStringLiteral(" ")) +
                 unknown.join(QStringLiteral(", ")));
    }

    QString Text(const QJsonObject& object, const QString& where, const QString& key)
    {
        const QJsonValue value = object.value(key);
        if (!value.isString())
            Fail(Field(where, key) + QStringLiteral(": a string expected"));
        return value.toString();
    }

    bool Flag(const QJsonObject& object, const QString& where, const QString& key)
    {
        const QJsonValue value = object.value(key);
        if (value.isUndefined())
            return false;
        if (!value.isBool())
            Fail(Field(where, key) + QStringLiteral(": true or false expected"));
        return value.toBool();
    }

    // An object, or null (nullable), or absent (false as well).
    bool Object(const QJsonObject& object, const QString& where, const QString& key, bool nullable, QJsonObject& inner)
    {
        const QJsonValue value = object.value(key);
        if (value.isUndefined() || (nullable && value.isNull()))
            return false;
        if (!value.isObject()) {
            Fail(Field(where, key) +
                 (nullable ? QStringLiteral(": an object or null expected") : QStringLiteral(": an object expected")));
            return false;
        }
        inner = value.toObject();
        return true;
    }

    // A name on one line, as every listing shows it.
    void Name(const QString& field, const QString& name)
    {
        if (name.trimmed().isEmpty())
            Fail(field + QStringLiteral(": empty or blanks alone"));
        else if (name.trimmed() != name)
            Fail(field + QStringLiteral(": begins or ends with a blank"));
        else if (name.size() > MaxNameLength)
            Fail(field + QStringLiteral(": longer than %1 characters").arg(MaxNameLength));
        else if (std::any_of(name.cbegin(), name.cend(), IsLineBreaking))
            Fail(field + QStringLiteral(": holds control characters (newlines, tabs, line separators, direction "
                                        "overrides)"));
        else
            Readable(field, name);
    }

    // Text that went through a file name or a JSON text and lost characters on the way
    // cannot name the same file again.
    void Readable(const QString& field, const QString& text)
    {
        if (text.contains(QChar::ReplacementCharacter) || !text.isValidUtf16())
            Fail(field + QStringLiteral(": holds characters that are not valid UTF-8"));
    }

    std::optional<TJobFile> File(const QJsonObject& recipe, const QString& key)
    {
        QJsonObject file;
        if (!Object(recipe, QString(), key, true, file))
            return std::nullopt;
        OnlyKnown(file, key, {QStringLiteral("file"), QStringLiteral("sha256")});
        TJobFile result{Text(file, key, QStringLiteral("file")), Text(file, key, QStringLiteral("sha256"))};
        const QString field = Field(key, QStringLiteral("file"));
        if (Ok() && !QDir::isAbsolutePath(result.Path))
            Fail(field + QStringLiteral(": not an absolute path: ") + result.Path);
        if (Ok())
            Readable(field, result.Path);
        static const QRegularExpression hex(QStringLiteral("^[0-9a-fA-F]{64}$"));
        if (Ok() && !hex.match(result.Sha256).hasMatch())
            Fail(Field(key, QStringLiteral("sha256")) + QStringLiteral(": not 64 hexadecimal digits"));
        result.Sha256 = result.Sha256.toLower();
        return result;
    }

    void Settings(const QJsonObject& recipe, TRecipe& result)
    {
        const QString where = QStringLiteral("settings");
        QJsonObject settings;
        Object(recipe, QString(), where, false, settings);
        OnlyKnown(settings, where,
                  {QStringLiteral("nadAlias"), QStringLiteral("model"), QStringLiteral("iexBaudRate"),
                   QStringLiteral("ip"), QStringLiteral("startPlc"), QStringLiteral("setRtc"),
                   QStringLiteral("verifyAfterSend")});
        TJob& job = result.Job;
        if (Present(settings, QStringLiteral("nadAlias"))) {
            job.Settings.NadAlias = Text(settings, where, QStringLiteral("nadAlias"));
            if (Ok() && !NadAliasValid(*job.Settings.NadAlias))
                Fail(QStringLiteral("settings.nadAlias: not a NAD alias: \"") + *job.Settings.NadAlias + u'"');
        }
        if (Present(settings, QStringLiteral("model")))
            job.Settings.HardwareModel = Item(settings, Models);
        if (Present(settings, QStringLiteral("iexBaudRate")))
            job.Settings.IEXBaudRate = Item(settings, BaudRates);
        Ip(settings, job.Settings);
        job.StartPlc = Flag(settings, where, QStringLiteral("startPlc"));
        job.SetClock = Flag(settings, where, QStringLiteral("setRtc"));
        job.Verify = Flag(settings, where, QStringLiteral("verifyAfterSend"));
    }

    void Serials(const QJsonObject& recipe, TRecipe& result)
    {
        QJsonObject serials;
        if (!Object(recipe, QString(), QStringLiteral("serials"), true, serials))
            return;
        OnlyKnown(serials, QStringLiteral("serials"), {QStringLiteral("series")});
        TSerialSource& source = result.Job.Serial;
        source.Series = Text(serials, QStringLiteral("serials"), QStringLiteral("series"));
        source.Write = true;
        if (Ok())
            Name(QStringLiteral("serials.series"), source.Series);
    }

    void Fail(const QString& why)
    {
        if (Ok())
            Error = why;
    }

private:
    static QString Field(const QString& where, const QString& key)
    {
        return where.isEmpty() ? key : where + u'.' + key;
    }

    static bool Present(const QJsonObject& object, const QString& key)
    {
        return object.contains(key) && !object.value(key).isNull();
    }

    int Item(const QJsonObject& settings, const TItemNames& names)
    {
        const QString key = QLatin1String(names.What);
        const QString name = Text(settings, QStringLiteral("settings"), key);
        const QStringList all = Names(names.Table);
        const int item = int(all.indexOf(name));
        if (Ok() && item < 0)
            Fail(QStringLiteral("settings.") + key + QStringLiteral(": unknown: \"") + name + QStringLiteral("\" (") +
                 all.join(QStringLiteral(", ")) + u')');
        return item;
    }

    void Ip(const QJsonObject& settings, TUnitSettings& result)
    {
        const QString where = QStringLiteral("settings.ip");
        QJsonObject ip;
        if (!Object(settings, QStringLiteral("settings"), QStringLiteral("ip"), true, ip))
            return;
        TIpSetting& in = result.Ip.emplace();
        const QJsonValue dhcp = ip.value(QStringLiteral("dhcp"));
        if (!dhcp.isBool()) {
            Fail(where + QStringLiteral(".dhcp: true or false expected"));
            return;
        }
        in.Dhcp = dhcp.toBool();
        if (in.Dhcp) {
            OnlyKnown(ip, where, {QStringLiteral("dhcp")});
            return;
        }
        OnlyKnown(ip, where,
                  {QStringLiteral("dhcp"), QStringLiteral("address"), QStringLiteral("mask"), QStringLiteral("gateway"),
                   QStringLiteral("dns")});
        const std::pair<const char*, QString*> fields[] = {{"address", &in.Address},
                                                           {"mask", &in.Mask},
                                                           {"gateway", &in.Gateway},
                                                           {"dns", &in.Dns}};
        for (const auto& [key, text] : fields) {
            *text = Text(ip, where, QLatin1String(key));
            if (Ok() && !IsValidIPText(*text))
                Fail(where + u'.' + QLatin1String(key) + QStringLiteral(": not an IP address: \"") + *text + u'"');
        }
        if (Ok() && !IsValidSubnetMask(StrToIP(in.Mask)))
            Fail(where + QStringLiteral(".mask: not a subnet mask: \"") + in.Mask + u'"');
    }
};

bool RecipeFromJson(const QJsonObject& json, TRecipe& recipe, QString& why)
{
    TReader reader;
    TRecipe result;
    // The format and version first: a newer recipe's fields are unknown here for that reason.
    if (json.value(QStringLiteral("format")).toString() != Format)
        reader.Fail(QStringLiteral("not a recipe (its \"format\" is not \"") + Format + QStringLiteral("\")"));
    // Compared as a double: a version past what an int holds is a newer recipe's all the same.
    const QJsonValue version = json.value(QStringLiteral("version"));
    const double number = version.toDouble();
    if (reader.Ok() && (!version.isDouble() || number != std::floor(number) || number < 1))
        reader.Fail(QStringLiteral("version: a whole number from 1 expected"));
    else if (reader.Ok() && number > TRecipe::Version)
        reader.Fail(QStringLiteral("made by a newer OrvelBinLoader (recipe version %1, this program knows %2)")
                        .arg(QString::number(number, 'f', 0), QString::number(TRecipe::Version)));
    reader.OnlyKnown(json, QString(),
                     {QStringLiteral("format"), QStringLiteral("version"), QStringLiteral("name"),
                      QStringLiteral("kernel"), QStringLiteral("program"), QStringLiteral("settings"),
                      QStringLiteral("serials")});
    if (reader.Ok())
        result.Name = reader.Text(json, QString(), QStringLiteral("name"));
    if (reader.Ok())
        reader.Name(QStringLiteral("name"), result.Name);
    if (reader.Ok())
        result.Job.Kernel = reader.File(json, QStringLiteral("kernel"));
    if (reader.Ok())
        result.Job.Program = reader.File(json, QStringLiteral("program"));
    if (reader.Ok())
        reader.Settings(json, result);
    if (reader.Ok())
        reader.Serials(json, result);
    if (!reader.Ok()) {
        why = reader.Error;
        return false;
    }
    recipe = result;
    return true;
}

QJsonValue FileJson(const std::optional<TJobFile>& file)
{
    if (!file)
        return QJsonValue::Null;
    return QJsonObject{{QStringLiteral("file"), file->Path}, {QStringLiteral("sha256"), file->Sha256}};
}

QJsonValue ItemJson(const std::optional<int>& item, const TItemNames& names)
{
    return item && *item >= 0 && size_t(*item) < names.Table.size()
               ? QJsonValue(QLatin1String(names.Table[size_t(*item)].Name))
               : QJsonValue::Null;
}

QJsonObject RecipeJson(const TRecipe& recipe)
{
    const TJob& job = recipe.Job;
    const std::optional<TIpSetting>& in = job.Settings.Ip;
    QJsonValue ip = QJsonValue::Null;
    if (in && in->Dhcp)
        ip = QJsonObject{{QStringLiteral("dhcp"), true}};
    else if (in)
        ip = QJsonObject{{QStringLiteral("dhcp"), false},
                         {QStringLiteral("address"), in->Address},
                         {QStringLiteral("mask"), in->Mask},
                         {QStringLiteral("gateway"), in->Gateway},
                         {QStringLiteral("dns"), in->Dns}};
    const QJsonObject settings{
        {QStringLiteral("nadAlias"), job.Settings.NadAlias ? QJsonValue(*job.Settings.NadAlias) : QJsonValue::Null},
        {QStringLiteral("model"), ItemJson(job.Settings.HardwareModel, Models)},
        {QStringLiteral("iexBaudRate"), ItemJson(job.Settings.IEXBaudRate, BaudRates)},
        {QStringLiteral("ip"), ip},
        {QStringLiteral("startPlc"), job.StartPlc},
        {QStringLiteral("setRtc"), job.SetClock},
        {QStringLiteral("verifyAfterSend"), job.Verify},
    };
    const TSerialSource& serial = job.Serial;
    QJsonObject json{{QStringLiteral("format"), Format},
                     {QStringLiteral("version"), TRecipe::Version},
                     {QStringLiteral("name"), recipe.Name},
                     {QStringLiteral("settings"), settings},
                     {QStringLiteral("serials"),
                      serial.Write ? QJsonValue(QJsonObject{{QStringLiteral("series"), serial.Series}})
                                   : QJsonValue::Null}};
    if (job.Kernel)
        json.insert(QStringLiteral("kernel"), FileJson(job.Kernel));
    if (job.Program)
        json.insert(QStringLiteral("program"), FileJson(job.Program));
    return json;
}

QString RecipeError(const QString& path, const QString& why)
{
    return QStringLiteral("recipe ") + path + QStringLiteral(": ") + why;
}

}   // namespace

bool ReadRecipe(const QString& path, TRecipe& recipe, QString& error)
{
    QFile file(path);
    const QFileInfo info(path);
    // A device or a pipe could be read for ever: only a plain file is a recipe.
    if (!info.isFile()) {
        error = RecipeError(path, info.exists() ? QStringLiteral("not a plain file") : QStringLiteral("not found"));
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        error = RecipeError(path, QStringLiteral("can't read it: ") + file.errorString());
        return false;
    }
    // Read one byte past the limit: a file that grows while it is read is still refused.
    const QByteArray text = file.read(MaxRecipeSize + 1);
    if (text.size() > MaxRecipeSize) {
        error = RecipeError(path, QStringLiteral("larger than %1 KiB: not a recipe").arg(MaxRecipeSize / 1024));
        return false;
    }
    QJsonParseError parsed{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &parsed);
    QString why;
    if (document.isNull())
        why = QStringLiteral("not JSON (") + parsed.errorString() + QStringLiteral(" at byte ") +
              QString::number(parsed.offset) + u')';
    else if (!document.isObject())
        why = QStringLiteral("not a recipe (no JSON object)");
    else if (RecipeFromJson(document.object(), recipe, why))
        return true;
    error = RecipeError(path, why);
    return false;
}

bool WriteRecipe(const QString& path, const TRecipe& recipe, QString& error)
{
    // Only what reads back as the same recipe is written: the checks of reading hold for
    // writing too.
    TRecipe check;
    const QJsonObject json = RecipeJson(recipe);
    QString why;
    if (!RecipeFromJson(json, check, why)) {
        error = QStringLiteral("can't save the recipe: ") + why;
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(json).toJson()) < 0 || !file.commit()) {
        error = RecipeError(path, QStringLiteral("can't write it: ") + file.errorString());
        return false;
    }
    return true;
}

bool RecipeOfJob(const QString& name, const TJob& job, const QString& series, TRecipe& recipe, QString& error)
{
    TRecipe result;
    result.Name = name;
    result.Job = job;
    result.Job.Serial = {!series.isEmpty(), -1, false, series};
    // The hashes are of the files as a send would load them: a file that would not load is
    // refused now, not when the recipe is opened.
    TJob unpinned = job;
    for (std::optional<TJobFile>* file : {&unpinned.Kernel, &unpinned.Program}) {
        if (*file)
            (*file)->Sha256.clear();
    }
    TLoadedImages images;
    if (!LoadJobFiles(unpinned, images, error))
        return false;
    const auto pin = [](std::optional<TJobFile>& file, const QString& sha256) {
        if (file)
            *file = TJobFile{QFileInfo(file->Path).absoluteFilePath(), sha256};
    };
    pin(result.Job.Kernel, images.KernelSourceSha256);
    pin(result.Job.Program, images.ProgramSourceSha256);
    recipe = result;
    return true;
}

bool FilesAsPinned(const TRecipe& recipe, const QString& kernelSha256, const QString& programSha256)
{
    const auto asPinned = [](const std::optional<TJobFile>& pinned, const QString& sha256) {
        return pinned ? sha256 == pinned->Sha256 : sha256.isEmpty();
    };
    return asPinned(recipe.Job.Kernel, kernelSha256) && asPinned(recipe.Job.Program, programSha256);
}

bool JobIsTheRecipe(const TRecipe& recipe, const TJob& job)
{
    TJob now = job;
    now.Serial = recipe.Job.Serial;
    // A file at the recipe's path stands for the recipe's, whose bytes LoadJobFiles checks.
    const auto file = [](const std::optional<TJobFile>& given,
                         const std::optional<TJobFile>& pinned) -> std::optional<TJobFile> {
        if (!given)
            return std::nullopt;
        // The same file however its path is spelt ("//", "/./").
        const QString absolute = QDir::cleanPath(QFileInfo(given->Path).absoluteFilePath());
        if (pinned && QDir::cleanPath(pinned->Path) == absolute)
            return pinned;
        return TJobFile{absolute, QString()};
    };
    now.Kernel = file(job.Kernel, recipe.Job.Kernel);
    now.Program = file(job.Program, recipe.Job.Program);
    // Compared as values, not as saved: a setting ticked without a value (a model that names
    // no item) is not the recipe's "left as the unit has it".
    return now == recipe.Job;
}
