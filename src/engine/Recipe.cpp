#include "Recipe.h"

#include "ImageFiles.h"
#include "IntegerText.h"
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

    std::optional<TRecipeFile> File(const QJsonObject& recipe, const QString& key)
    {
        QJsonObject file;
        if (!Object(recipe, QString(), key, true, file))
            return std::nullopt;
        OnlyKnown(file, key, {QStringLiteral("file"), QStringLiteral("sha256")});
        TRecipeFile result{Text(file, key, QStringLiteral("file")), Text(file, key, QStringLiteral("sha256"))};
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
        TOperationInputs& in = result.Settings;
        if (Present(settings, QStringLiteral("nadAlias"))) {
            in.SetNadAlias = true;
            in.NadAliasText = Text(settings, where, QStringLiteral("nadAlias"));
            if (Ok() && !in.NadAliasText.isEmpty() && IntegerTextOrDefault(in.NadAliasText, -1) < 0)
                Fail(QStringLiteral("settings.nadAlias: not a NAD alias: \"") + in.NadAliasText + u'"');
        }
        in.SetHardwareModel = Present(settings, QStringLiteral("model"));
        if (in.SetHardwareModel)
            in.HardwareModelIndex = Item(settings, Models);
        in.SetIEXBaudRate = Present(settings, QStringLiteral("iexBaudRate"));
        if (in.SetIEXBaudRate)
            in.IEXBaudRateIndex = Item(settings, BaudRates);
        Ip(settings, in);
        in.StartPlc = Flag(settings, where, QStringLiteral("startPlc"));
        in.SetRtc = Flag(settings, where, QStringLiteral("setRtc"));
        result.VerifyAfterSend = Flag(settings, where, QStringLiteral("verifyAfterSend"));
    }

    void Serials(const QJsonObject& recipe, TRecipe& result)
    {
        QJsonObject serials;
        if (!Object(recipe, QString(), QStringLiteral("serials"), true, serials))
            return;
        OnlyKnown(serials, QStringLiteral("serials"), {QStringLiteral("series")});
        result.Series = Text(serials, QStringLiteral("serials"), QStringLiteral("series"));
        if (Ok())
            Name(QStringLiteral("serials.series"), result.Series);
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

    void Ip(const QJsonObject& settings, TOperationInputs& in)
    {
        const QString where = QStringLiteral("settings.ip");
        QJsonObject ip;
        if (!Object(settings, QStringLiteral("settings"), QStringLiteral("ip"), true, ip))
            return;
        in.SetIPAddress = true;
        const QJsonValue dhcp = ip.value(QStringLiteral("dhcp"));
        if (!dhcp.isBool()) {
            Fail(where + QStringLiteral(".dhcp: true or false expected"));
            return;
        }
        in.DHCP = dhcp.toBool();
        if (in.DHCP) {
            OnlyKnown(ip, where, {QStringLiteral("dhcp")});
            return;
        }
        OnlyKnown(ip, where,
                  {QStringLiteral("dhcp"), QStringLiteral("address"), QStringLiteral("mask"), QStringLiteral("gateway"),
                   QStringLiteral("dns")});
        const std::pair<const char*, QString*> fields[] = {{"address", &in.IPAddress},
                                                           {"mask", &in.SubnetMask},
                                                           {"gateway", &in.Gateway},
                                                           {"dns", &in.DNSServer}};
        for (const auto& [key, text] : fields) {
            *text = Text(ip, where, QLatin1String(key));
            if (Ok() && !IsValidIPText(*text))
                Fail(where + u'.' + QLatin1String(key) + QStringLiteral(": not an IP address: \"") + *text + u'"');
        }
        if (Ok() && !IsValidSubnetMask(StrToIP(in.SubnetMask)))
            Fail(where + QStringLiteral(".mask: not a subnet mask: \"") + in.SubnetMask + u'"');
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
        result.Kernel = reader.File(json, QStringLiteral("kernel"));
    if (reader.Ok())
        result.Program = reader.File(json, QStringLiteral("program"));
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

QJsonValue FileJson(const std::optional<TRecipeFile>& file)
{
    if (!file)
        return QJsonValue::Null;
    return QJsonObject{{QStringLiteral("file"), file->Path}, {QStringLiteral("sha256"), file->Sha256}};
}

QJsonValue ItemJson(bool set, int item, const TItemNames& names)
{
    return set && item >= 0 && size_t(item) < names.Table.size()
               ? QJsonValue(QLatin1String(names.Table[size_t(item)].Name))
               : QJsonValue::Null;
}

QJsonObject RecipeJson(const TRecipe& recipe)
{
    const TOperationInputs& in = recipe.Settings;
    QJsonValue ip = QJsonValue::Null;
    if (in.SetIPAddress && in.DHCP)
        ip = QJsonObject{{QStringLiteral("dhcp"), true}};
    else if (in.SetIPAddress)
        ip = QJsonObject{{QStringLiteral("dhcp"), false},
                         {QStringLiteral("address"), in.IPAddress},
                         {QStringLiteral("mask"), in.SubnetMask},
                         {QStringLiteral("gateway"), in.Gateway},
                         {QStringLiteral("dns"), in.DNSServer}};
    const QJsonObject settings{
        {QStringLiteral("nadAlias"), in.SetNadAlias ? QJsonValue(in.NadAliasText) : QJsonValue::Null},
        {QStringLiteral("model"), ItemJson(in.SetHardwareModel, in.HardwareModelIndex, Models)},
        {QStringLiteral("iexBaudRate"), ItemJson(in.SetIEXBaudRate, in.IEXBaudRateIndex, BaudRates)},
        {QStringLiteral("ip"), ip},
        {QStringLiteral("startPlc"), in.StartPlc},
        {QStringLiteral("setRtc"), in.SetRtc},
        {QStringLiteral("verifyAfterSend"), recipe.VerifyAfterSend},
    };
    QJsonObject json{{QStringLiteral("format"), Format},
                     {QStringLiteral("version"), TRecipe::Version},
                     {QStringLiteral("name"), recipe.Name},
                     {QStringLiteral("settings"), settings},
                     {QStringLiteral("serials"),
                      recipe.Series.isEmpty() ? QJsonValue::Null
                                              : QJsonValue(QJsonObject{{QStringLiteral("series"), recipe.Series}})}};
    if (recipe.Kernel)
        json.insert(QStringLiteral("kernel"), FileJson(recipe.Kernel));
    if (recipe.Program)
        json.insert(QStringLiteral("program"), FileJson(recipe.Program));
    return json;
}

// The settings a recipe keeps, one field each, from one set of inputs into another.
void CopySettings(const TOperationInputs& from, TOperationInputs& to)
{
    to.SetNadAlias = from.SetNadAlias;
    to.NadAliasText = from.NadAliasText;
    to.SetHardwareModel = from.SetHardwareModel;
    to.HardwareModelIndex = from.HardwareModelIndex;
    to.SetIEXBaudRate = from.SetIEXBaudRate;
    to.IEXBaudRateIndex = from.IEXBaudRateIndex;
    to.SetIPAddress = from.SetIPAddress;
    to.DHCP = from.DHCP;
    to.IPAddress = from.IPAddress;
    to.SubnetMask = from.SubnetMask;
    to.Gateway = from.Gateway;
    to.DNSServer = from.DNSServer;
    to.StartPlc = from.StartPlc;
    to.SetRtc = from.SetRtc;
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

bool RecipeFromInputs(const QString& name, const TOperationInputs& inputs, bool verifyAfterSend, const QString& series,
                      TRecipe& recipe, QString& error)
{
    TRecipe result;
    result.Name = name;
    result.VerifyAfterSend = verifyAfterSend;
    result.Series = series;
    CopySettings(inputs, result.Settings);
    // The hashes are of the files as the send would load them: a file that would not load
    // is refused now, not when the recipe is opened.
    TLoadedImages images;
    if (inputs.KernelChecked) {
        if (!LoadKernelFile(inputs.KernelPath, images, error))
            return false;
        result.Kernel = TRecipeFile{QFileInfo(inputs.KernelPath).absoluteFilePath(), images.KernelSourceSha256};
    }
    if (inputs.ProgramChecked) {
        if (!LoadProgramFile(inputs.ProgramPath, images, error))
            return false;
        result.Program = TRecipeFile{QFileInfo(inputs.ProgramPath).absoluteFilePath(), images.ProgramSourceSha256};
    }
    recipe = result;
    return true;
}

void ApplyRecipe(const TRecipe& recipe, TOperationInputs& inputs)
{
    CopySettings(recipe.Settings, inputs);
    inputs.KernelChecked = recipe.Kernel.has_value();
    inputs.KernelPath = recipe.Kernel ? recipe.Kernel->Path : QString();
    inputs.ProgramChecked = recipe.Program.has_value();
    inputs.ProgramPath = recipe.Program ? recipe.Program->Path : QString();
}

bool LoadRecipeFiles(const TRecipe& recipe, TLoadedImages& images, QString& error)
{
    if (recipe.Kernel) {
        if (!LoadKernelFile(recipe.Kernel->Path, images, error))
            return false;
        if (images.KernelSourceSha256 != recipe.Kernel->Sha256) {
            error = QStringLiteral("kernel file changed since the recipe was saved: ") + recipe.Kernel->Path;
            return false;
        }
    }
    if (recipe.Program) {
        if (!LoadProgramFile(recipe.Program->Path, images, error))
            return false;
        if (images.ProgramSourceSha256 != recipe.Program->Sha256) {
            error = QStringLiteral("plc program file changed since the recipe was saved: ") + recipe.Program->Path;
            return false;
        }
    }
    return true;
}

bool FilesAsPinned(const TRecipe& recipe, const QString& kernelSha256, const QString& programSha256)
{
    const auto asPinned = [](const std::optional<TRecipeFile>& pinned, const QString& sha256) {
        return pinned ? sha256 == pinned->Sha256 : sha256.isEmpty();
    };
    return asPinned(recipe.Kernel, kernelSha256) && asPinned(recipe.Program, programSha256);
}

bool InputsAreTheRecipe(const TRecipe& recipe, const TOperationInputs& inputs, bool verifyAfterSend)
{
    TRecipe now = recipe;
    now.Settings = {};
    CopySettings(inputs, now.Settings);
    now.VerifyAfterSend = verifyAfterSend;
    // A file at the recipe's path stands for the recipe's, whose bytes LoadRecipeFiles checks.
    const auto file = [](bool checked, const QString& path,
                         const std::optional<TRecipeFile>& pinned) -> std::optional<TRecipeFile> {
        if (!checked)
            return std::nullopt;
        // The same file however its path is spelt ("//", "/./").
        const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
        if (pinned && QDir::cleanPath(pinned->Path) == absolute)
            return pinned;
        return TRecipeFile{absolute, QString()};
    };
    now.Kernel = file(inputs.KernelChecked, inputs.KernelPath, recipe.Kernel);
    now.Program = file(inputs.ProgramChecked, inputs.ProgramPath, recipe.Program);
    return RecipeJson(now) == RecipeJson(recipe);
}
