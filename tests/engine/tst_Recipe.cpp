// Recipes: saved from a job and opened again as the same job, every malformed or
// hostile file refused in its own words (never a crash), and files changed or gone since
// the recipe was saved refused before anything is loaded for a unit.
#include "ImageFiles.h"
#include "Recipe.h"
#include "SampleImages.h"
#include "TestPrinters.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace {

using ::PrintTo;   // table rows print as their names

class Recipe : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        // Names an operator's folders may hold: blanks, "%1", letters beyond ASCII.
        ASSERT_TRUE(QDir(Dir.path()).mkpath(QStringLiteral("release %1 ünï")));
        Kernel = WriteFile(QStringLiteral("release %1 ünï/kernel %2.bin"), SampleKernel(3, 16 * 1024));
        Program = WriteFile(QStringLiteral("release %1 ünï/program.bin"), SampleProgram(8 * 1024));
    }

    QString WriteFile(const QString& name, const QByteArray& bytes)
    {
        QFile file(QDir(Dir.path()).filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return file.fileName();
    }

    // Every setting a recipe keeps, set, and both files.
    TJob FullJob() const
    {
        TJob job;
        job.Kernel = TJobFile{Kernel, QString()};
        job.Program = TJobFile{Program, QString()};
        job.Settings.NadAlias = QStringLiteral("12");
        job.Settings.HardwareModel = 2;
        job.Settings.IEXBaudRate = 4;
        job.Settings.Ip = TIpSetting{false, QStringLiteral("10.1.2.3"), QStringLiteral("255.255.0.0"),
                                     QStringLiteral("10.1.0.1"), QStringLiteral("10.1.0.2")};
        job.StartPlc = job.SetClock = job.Verify = true;
        return job;
    }

    QTemporaryDir Dir;
    QString Kernel;
    QString Program;
};

TEST_F(Recipe, RoundTripGivesTheSameJobAndFiles)
{
    const QString name = QStringLiteral("release %1 \"3.1\" ünï");
    const QString series = QStringLiteral("line %1 'A'");
    TRecipe made;
    QString error;
    TJob full = FullJob();
    full.Serial = {true, 77, true, QString()};   // the window's number is no part of a recipe
    ASSERT_TRUE(RecipeOfJob(name, full, series, made, error)) << error.toStdString();
    const QString path = Dir.filePath(QStringLiteral("release %1.recipe"));
    ASSERT_TRUE(WriteRecipe(path, made, error)) << error.toStdString();

    TRecipe read;
    ASSERT_TRUE(ReadRecipe(path, read, error)) << error.toStdString();
    EXPECT_EQ(read.Name, name);
    EXPECT_TRUE(read.Job == made.Job);
    EXPECT_EQ(read.Job.Serial, (TSerialSource{true, -1, false, series}));
    ASSERT_TRUE(read.Job.Kernel && read.Job.Program);
    EXPECT_EQ(read.Job.Kernel->Path, Kernel);
    EXPECT_EQ(read.Job.Program->Path, Program);
    TJob settings = read.Job;
    settings.Kernel = full.Kernel;
    settings.Program = full.Program;
    settings.Serial = full.Serial;
    EXPECT_TRUE(settings == full);
    EXPECT_TRUE(JobIsTheRecipe(read, full));

    // The bytes checked are the bytes loaded, and their hashes are the ones pinned.
    TLoadedImages images;
    ASSERT_TRUE(LoadJobFiles(read.Job, images, error)) << error.toStdString();
    EXPECT_TRUE(images.KernelLoaded && images.ProgramLoaded);
    EXPECT_EQ(images.KernelSourceSha256, made.Job.Kernel->Sha256);
    EXPECT_EQ(images.ProgramSourceSha256, made.Job.Program->Sha256);
}

TEST_F(Recipe, RoundTripOfNothingSetLeavesEveryUnitSettingAlone)
{
    TRecipe made;
    QString error;
    ASSERT_TRUE(RecipeOfJob(QStringLiteral("settings only"), TJob{}, QString(), made, error));
    const QString path = Dir.filePath(QStringLiteral("empty.recipe"));
    ASSERT_TRUE(WriteRecipe(path, made, error)) << error.toStdString();
    TRecipe read;
    ASSERT_TRUE(ReadRecipe(path, read, error)) << error.toStdString();
    EXPECT_TRUE(read.Job == TJob{});
}

struct TBadRecipe {
    const char* Name;
    QByteArray Text;
    const char* Words;
};

void PrintTo(const TBadRecipe& c, std::ostream* os)
{
    *os << c.Name;
}

// A recipe of version 1 with the kernel given, and text put in at the end of its settings
// or top level.
QByteArray RecipeText(const QByteArray& top, const QByteArray& settings = {}, const QByteArray& kernel = {})
{
    return R"({"format": "orvel-recipe", "version": 1, "name": "r",
               "kernel": {"file": "/images/k.bin", "sha256": ")" +
           QByteArray(64, 'a') + '"' + kernel + R"(},
               "settings": {"startPlc": false)" +
           settings + "}" + top + "}";
}

class RecipeRefused : public Recipe, public ::testing::WithParamInterface<TBadRecipe> {};

TEST_P(RecipeRefused, InItsOwnWords)
{
    const QString path = WriteFile(QStringLiteral("bad %1.recipe"), GetParam().Text);
    TRecipe recipe;
    recipe.Name = QStringLiteral("untouched");
    QString error;
    EXPECT_FALSE(ReadRecipe(path, recipe, error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("recipe ") + path + QStringLiteral(": "))) << error.toStdString();
    EXPECT_TRUE(error.contains(QLatin1String(GetParam().Words))) << error.toStdString();
    EXPECT_EQ(recipe.Name, QStringLiteral("untouched"));
}

INSTANTIATE_TEST_SUITE_P(
    Recipe, RecipeRefused,
    ::testing::Values(
        TBadRecipe{"not_json", "{\"format\": ", "not JSON"}, TBadRecipe{"empty_file", "", "not JSON"},
        TBadRecipe{"array", "[1, 2]", "no JSON object"},
        TBadRecipe{"nested_beyond_any_recipe", QByteArray(30000, '[') + QByteArray(30000, ']'), "not JSON"},
        TBadRecipe{"invalid_utf8", "{\"format\": \"orvel-recipe\", \"version\": 1, \"name\": \"\xff\xfe\"}",
                   "not JSON"},
        TBadRecipe{"over_64_KiB", RecipeText({}, QByteArray(64 * 1024, ' ')), "larger than 64 KiB"},
        TBadRecipe{"other_format", R"({"format": "orvel-job", "version": 1, "name": "r"})", "not a recipe"},
        TBadRecipe{"newer_version", R"({"format": "orvel-recipe", "version": 2, "name": "r", "colour": 1})",
                   "made by a newer OrvelBinLoader"},
        // A version past what an int holds is still a newer recipe's, not "not a whole number".
        TBadRecipe{"version_2_pow_63", R"({"format": "orvel-recipe", "version": 9223372036854775808, "name": "r"})",
                   "newer OrvelBinLoader"},
        TBadRecipe{"version_2_pow_31", R"({"format": "orvel-recipe", "version": 2147483648, "name": "r"})",
                   "newer OrvelBinLoader"},
        TBadRecipe{"version_as_text", R"({"format": "orvel-recipe", "version": "1", "name": "r"})",
                   "version: a whole number"},
        TBadRecipe{"version_fraction", R"({"format": "orvel-recipe", "version": 1.5, "name": "r"})",
                   "version: a whole number"},
        TBadRecipe{"unknown_fields", RecipeText(R"(, "colour": "red", "size": 2)"), "unknown fields colour, size"},
        TBadRecipe{"unknown_setting", RecipeText({}, R"(, "speed": 3)"), "unknown field settings.speed"},
        TBadRecipe{"unknown_file_field", RecipeText({}, {}, R"(, "size": 3)"), "unknown field kernel.size"},
        TBadRecipe{"unknown_ip_field",
                   RecipeText({}, R"(, "ip": {"dhcp": false, "address": "10.0.0.2", "mask": "255.0.0.0",
                                             "gateway": "0.0.0.0", "dns": "0.0.0.0", "vlan": 4})"),
                   "unknown field settings.ip.vlan"},
        TBadRecipe{"dhcp_with_address", RecipeText({}, R"(, "ip": {"dhcp": true, "address": "10.0.0.2"})"),
                   "unknown field settings.ip.address"},
        TBadRecipe{"name_not_text", R"({"format": "orvel-recipe", "version": 1, "name": 5})",
                   "name: a string expected"},
        TBadRecipe{"name_empty", R"({"format": "orvel-recipe", "version": 1, "name": ""})", "name: empty"},
        TBadRecipe{"name_too_long",
                   R"({"format": "orvel-recipe", "version": 1, "name": ")" + QByteArray(201, 'x') + R"("})",
                   "name: longer than 200 characters"},
        TBadRecipe{"name_on_two_lines", R"({"format": "orvel-recipe", "version": 1, "name": "a\nb"})",
                   "name: holds control characters"},
        // A line separator or a bidirectional override breaks the one line every listing shows.
        TBadRecipe{"name_with_line_separator", R"({"format": "orvel-recipe", "version": 1, "name": "a\u2028b"})",
                   "name: holds"},
        TBadRecipe{"name_with_direction_override", R"({"format": "orvel-recipe", "version": 1, "name": "a\u202eb"})",
                   "name: holds"},
        // A name of blanks alone shows as no name in every listing: its units look unnamed.
        TBadRecipe{"name_of_blanks", R"({"format": "orvel-recipe", "version": 1, "name": "   "})", "name: "},
        TBadRecipe{"name_of_no_break_spaces", R"({"format": "orvel-recipe", "version": 1, "name": "\u00a0\u3000"})",
                   "name: "},
        TBadRecipe{"series_of_blanks", RecipeText(R"(, "serials": {"series": "  "})"), "serials.series: "},
        TBadRecipe{"kernel_not_object", RecipeText(R"(, "program": "/p.bin")"), "program: an object or null expected"},
        TBadRecipe{"sha256_short", RecipeText(R"(, "program": {"file": "/p.bin", "sha256": "abc"})"),
                   "program.sha256: not 64 hexadecimal digits"},
        TBadRecipe{"sha256_not_hex",
                   RecipeText(R"(, "program": {"file": "/p.bin", "sha256": ")" + QByteArray(64, 'g') + R"("})"),
                   "program.sha256: not 64 hexadecimal digits"},
        TBadRecipe{"relative_path",
                   RecipeText(R"(, "program": {"file": "p.bin", "sha256": ")" + QByteArray(64, '0') + R"("})"),
                   "program.file: not an absolute path"},
        TBadRecipe{"flag_as_text", RecipeText({}, R"(, "setRtc": "yes")"), "settings.setRtc: true or false"},
        TBadRecipe{"settings_not_object", R"({"format": "orvel-recipe", "version": 1, "name": "r", "settings": 1})",
                   "settings: an object expected"},
        TBadRecipe{"unknown_model", RecipeText({}, R"(, "model": "Orvel-Z")"),
                   "settings.model: unknown: \"Orvel-Z\" (Orvel-J, Orvel-K, Orvel-L)"},
        TBadRecipe{"unknown_baud_rate", RecipeText({}, R"(, "iexBaudRate": "9600")"),
                   "settings.iexBaudRate: unknown: \"9600\""},
        TBadRecipe{"nad_alias_not_a_number", RecipeText({}, R"(, "nadAlias": "twelve")"),
                   "settings.nadAlias: not a NAD alias"},
        TBadRecipe{"bad_address",
                   RecipeText({}, R"(, "ip": {"dhcp": false, "address": "10.0.0.300", "mask": "255.0.0.0",
                                             "gateway": "0.0.0.0", "dns": "0.0.0.0"})"),
                   "settings.ip.address: not an IP address"},
        TBadRecipe{"bad_mask", RecipeText({}, R"(, "ip": {"dhcp": false, "address": "10.0.0.3", "mask": "255.0.255.0",
                                             "gateway": "0.0.0.0", "dns": "0.0.0.0"})"),
                   "settings.ip.mask: not a subnet mask"},
        TBadRecipe{"series_not_object", RecipeText(R"(, "serials": "line A")"), "serials: an object or null"},
        TBadRecipe{"series_empty", RecipeText(R"(, "serials": {"series": ""})"), "serials.series: empty"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(Recipe, WritesOnlyWhatReadsBackTheSame)
{
    TRecipe recipe;
    QString error;
    ASSERT_TRUE(RecipeOfJob(QStringLiteral("r"), FullJob(), QString(), recipe, error));
    const QString path = Dir.filePath(QStringLiteral("r.recipe"));
    struct TCase {
        const char* Words;
        std::function<void(TRecipe&)> Spoil;
    };
    const TCase cases[] = {
        {"name: holds control characters", [](TRecipe& r) { r.Name = QStringLiteral("line\nfeed"); }},
        {"name: empty", [](TRecipe& r) { r.Name.clear(); }},
        // A file name whose bytes were no UTF-8 came in with replacement characters: it
        // would name another file when read back.
        {"kernel.file: holds characters that are not valid UTF-8",
         [](TRecipe& r) { r.Job.Kernel->Path = QStringLiteral("/images/k") + QChar::ReplacementCharacter; }},
        {"serials.series: holds control characters",
         [](TRecipe& r) {
             r.Job.Serial = {true, -1, false, QStringLiteral("a\tb")};
         }},
    };
    for (const TCase& c : cases) {
        TRecipe spoilt = recipe;
        c.Spoil(spoilt);
        EXPECT_FALSE(WriteRecipe(path, spoilt, error)) << c.Words;
        EXPECT_TRUE(error.contains(QLatin1String(c.Words))) << error.toStdString();
        EXPECT_FALSE(QFile::exists(path));
    }
    EXPECT_FALSE(WriteRecipe(Dir.filePath(QStringLiteral("no folder/r.recipe")), recipe, error));
    EXPECT_TRUE(error.contains(QLatin1String("can't write it"))) << error.toStdString();
}

// A recipe opened and left as the window shows it is the window's job, however its file's
// path is spelled in the file (a line lead's hand-written recipe, or one saved through a
// folder typed so): otherwise the window neither checks its hashes nor names it.
struct TPathSpelling {
    const char* Name;
    std::function<QString(const QString& path)> Spell;
};

class RecipeOpenedAsIs : public Recipe, public ::testing::WithParamInterface<TPathSpelling> {};

TEST_P(RecipeOpenedAsIs, IsTheShownJobsRecipe)
{
    TRecipe made;
    QString error;
    ASSERT_TRUE(RecipeOfJob(QStringLiteral("release 3.1"), FullJob(), QString(), made, error)) << error.toStdString();
    made.Job.Kernel->Path = GetParam().Spell(made.Job.Kernel->Path);
    const QString path = Dir.filePath(QStringLiteral("spelled.recipe"));
    ASSERT_TRUE(WriteRecipe(path, made, error)) << error.toStdString();
    TRecipe read;
    ASSERT_TRUE(ReadRecipe(path, read, error)) << error.toStdString();
    // As the window shows it: the paths as the recipe spells them, no hashes, its own number.
    TJob shown = read.Job;
    shown.Kernel->Sha256.clear();
    shown.Program->Sha256.clear();
    shown.Serial = {true, 77, false, QString()};
    EXPECT_TRUE(JobIsTheRecipe(read, shown)) << read.Job.Kernel->Path.toStdString();
    shown.SetClock = false;
    EXPECT_FALSE(JobIsTheRecipe(read, shown));
}

INSTANTIATE_TEST_SUITE_P(Paths, RecipeOpenedAsIs,
                         ::testing::Values(TPathSpelling{"AsSaved", [](const QString& path) { return path; }},
                                           TPathSpelling{"DoubledSlash",
                                                         [](const QString& path) {
                                                             QString spelled = path;
                                                             return spelled.insert(spelled.lastIndexOf(u'/'), u'/');
                                                         }},
                                           TPathSpelling{"DotFolder",
                                                         [](const QString& path) {
                                                             QString spelled = path;
                                                             return spelled.insert(spelled.lastIndexOf(u'/'),
                                                                                   QStringLiteral("/."));
                                                         }}),
                         [](const ::testing::TestParamInfo<TPathSpelling>& info) {
                             return std::string(info.param.Name);
                         });

// A ticked setting that names nothing (a model typed that is no model, no baud rate chosen)
// is not the recipe's "left as the unit has it": the window refuses the one and rewrites the
// kernel for the other, so a station must not take the recipe's job for them.
TEST_F(Recipe, ASettingTickedWithoutAValueIsNotTheRecipesNone)
{
    TRecipe recipe;
    QString error;
    ASSERT_TRUE(RecipeOfJob(QStringLiteral("nothing set"), TJob{}, QString(), recipe, error)) << error.toStdString();
    EXPECT_TRUE(JobIsTheRecipe(recipe, TJob{}));
    for (const auto& set : {std::function<void(TUnitSettings&)>([](TUnitSettings& s) { s.HardwareModel = -1; }),
                            std::function<void(TUnitSettings&)>([](TUnitSettings& s) { s.IEXBaudRate = -1; })}) {
        TJob shown;
        set(shown.Settings);
        EXPECT_FALSE(JobIsTheRecipe(recipe, shown));
    }
}

TEST_F(Recipe, FilesChangedSinceSavingAreRefused)
{
    TRecipe recipe;
    QString error;
    ASSERT_TRUE(RecipeOfJob(QStringLiteral("r"), FullJob(), QString(), recipe, error));
    struct TCase {
        QString Path;
        QByteArray Other;   // still a valid file: only its hash tells
        QString Words;
    };
    const TCase cases[] = {
        {Kernel, SampleKernel(3, 20 * 1024), QStringLiteral("kernel file changed since the recipe was saved: ")},
        {Program, SampleProgram(9 * 1024), QStringLiteral("plc program file changed since the recipe was saved: ")},
    };
    for (const TCase& c : cases) {
        QFile file(c.Path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray saved = file.readAll();
        file.close();
        WriteFile(c.Path, c.Other);
        TLoadedImages images;
        EXPECT_FALSE(LoadJobFiles(recipe.Job, images, error));
        EXPECT_EQ(error, c.Words + c.Path);
        WriteFile(c.Path, saved);
    }
    TLoadedImages images;
    EXPECT_TRUE(LoadJobFiles(recipe.Job, images, error)) << error.toStdString();
}

TEST_F(Recipe, MissingFilesAreRefused)
{
    TRecipe recipe;
    QString error;
    ASSERT_TRUE(RecipeOfJob(QStringLiteral("r"), FullJob(), QString(), recipe, error));
    ASSERT_TRUE(QFile::remove(Program));
    TLoadedImages images;
    EXPECT_FALSE(LoadJobFiles(recipe.Job, images, error));
    EXPECT_EQ(error, QStringLiteral("plc program file not found: ") + Program);
    // Nor can a recipe be made of it.
    EXPECT_FALSE(RecipeOfJob(QStringLiteral("r"), FullJob(), QString(), recipe, error));
    EXPECT_EQ(error, QStringLiteral("plc program file not found: ") + Program);

    const QString none = Dir.filePath(QStringLiteral("none.recipe"));
    EXPECT_FALSE(ReadRecipe(none, recipe, error));
    EXPECT_EQ(error, QStringLiteral("recipe ") + none + QStringLiteral(": not found"));
    // A device that never ends is not read.
    EXPECT_FALSE(ReadRecipe(QStringLiteral("/dev/zero"), recipe, error));
    EXPECT_EQ(error, QStringLiteral("recipe /dev/zero: not a plain file"));
}

}   // namespace
