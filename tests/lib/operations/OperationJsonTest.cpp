#include "OperationFixture.h"

#include "operations/OperationsDoc.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

using namespace OperationFixture;

namespace {

// ---- Round trip: save, dump, parse, load, save gives the same text -----------------------

struct RoundTrip {
    const char* name;
    std::function<std::unique_ptr<Operation>()> make;
};

template <typename T>
std::unique_ptr<Operation> loaded(const json& object)
{
    auto operation = std::make_unique<T>();
    operation->load(object);
    return operation;
}

std::unique_ptr<Operation> scaleWith(std::vector<Vector2D<float>> grids)
{
    auto operation = std::make_unique<ScaleOperation>();
    operation->setId("panel 7");
    operation->setBlend(0.1f);
    operation->setWin(0.5f, 1.5f, 2.0f, 3.0f);
    for (std::size_t channel = 0; channel < grids.size(); ++channel)
        operation->setMesh(channel, grids[channel]);
    return operation;
}

const RoundTrip kRoundTrips[] = {
    {"Null", [] { return std::make_unique<NullOperation>(); }},
    {"AdjustLoaded", [] { return loaded<AdjustOperation>(adjustObject()); }},
    {"FeatherDefault", [] { return std::make_unique<FeatherOperation>(); }},
    {"FeatherSet",
     [] {
         auto operation = std::make_unique<FeatherOperation>();
         operation->setModuleWidth(-3);
         operation->setModuleHeight(0);
         operation->setEdgeWidth(7);
         operation->setEdgeHeight(INT_MAX);
         operation->setRfactor(0.1);
         operation->setGfactor(1e-300);
         operation->setBfactor(-2.5);
         return operation;
     }},
    {"GradientSet",
     [] {
         auto operation = std::make_unique<GradientOperation>();
         operation->setModuleWidth(64);
         operation->setModuleHeight(32);
         operation->setEdgeWidth(3);
         operation->setEdgeHeight(INT_MIN);
         operation->setVertical(true);
         operation->setRfactorBegin(0.1);
         operation->setRfactorEnd(0.2);
         operation->setGfactorBegin(0.3);
         operation->setGfactorEnd(0.4);
         operation->setBfactorBegin(0.5);
         operation->setBfactorEnd(0.6);
         return operation;
     }},
    {"ScaleOneGrid", [] { return scaleWith({{{0.1f, 2.0f, 3.0f}, {4.0f, 5.0f, 6.5f}}}); }},
    {"ScaleOneEmptyGrid", [] { return scaleWith({{}}); }},
    {"ScaleNoGrid", [] { return scaleWith({}); }},
    {"ScaleThreeGrids", [] { return scaleWith({{{1.0f}}, {{0.5f, 0.25f}}, {{2.0f}, {3.0f}}}); }},
    {"ScaleGridsWithoutRowsOrValues", [] { return scaleWith({{}, Vector2D<float>(0, 2), {{7.0f}}}); }},
    {"ScaleLoadedFromPoints", [] { return loaded<ScaleOperation>(scaleObject()); }},
};

class OperationRoundTrip : public testing::TestWithParam<RoundTrip> {};

TEST_P(OperationRoundTrip, SavedTextLoadsBackToTheSameText)
{
    const std::unique_ptr<Operation> original = GetParam().make();
    const std::string first = original->save().dump();

    const std::unique_ptr<Operation> copy = blank(original->type());
    copy->load(json::parse(first));
    EXPECT_EQ(copy->save().dump(), first);
}

INSTANTIATE_TEST_SUITE_P(EveryClass, OperationRoundTrip, testing::ValuesIn(kRoundTrips),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(OperationJson, FreshFeatherSavesItsDefaults)
{
    EXPECT_EQ(FeatherOperation().save().dump(),
              R"({"bFactor":1.0,"edgeHeight":10,"edgeWidth":10,"gFactor":1.0,"moduleHeight":180,)"
              R"("moduleWidth":120,"rFactor":1.0,"type":0})");
}

TEST(OperationJson, OneGridScaleSavesNoIdOrWindowAndLoadsBackWithTheDefaultWindow)
{
    ScaleOperation original;
    original.setId("kept only with other meshes");
    original.setWin(5.0f, 6.0f, 7.0f, 8.0f);
    original.setBlend(0.5f);
    original.setMesh(0, {{1.0f, 2.0f}});
    const json saved = original.save();
    EXPECT_EQ(saved.dump(), R"({"spread":0.5,"template":[[1.0,2.0]],"type":3})");

    ScaleOperation back;
    back.setId("stale");
    EXPECT_TRUE(back.load(saved));
    EXPECT_EQ(back.id(), "");
    EXPECT_THAT(back.win(), testing::ElementsAre(0.0f, 0.0f, 1.0f, 1.0f));
    EXPECT_EQ(back.channels(), 1u);
    EXPECT_EQ(back.mesh(0), original.mesh(0));
}

TEST(OperationJson, ScaleMeshGrowsToTheChannelSetAndAnswersEmptyBeyondIt)
{
    ScaleOperation operation;
    EXPECT_THAT(operation.win(), testing::ElementsAre(0.0f, 0.0f, 0.0f, 0.0f));
    operation.setMesh(2, {{4.0f}});
    EXPECT_EQ(operation.channels(), 3u);
    EXPECT_TRUE(operation.mesh(0).empty());
    EXPECT_EQ(operation.mesh(2), Vector2D<float>({{4.0f}}));
    EXPECT_TRUE(operation.mesh(99).empty());
    operation.setMesh(0, {{1.0f}});
    EXPECT_EQ(operation.channels(), 3u);
    EXPECT_EQ(operation.save()["points"].dump(), "[[[1.0]],null,[[4.0]]]");
}

TEST(OperationJson, NullOperationReadsNothingAndSavesNull)
{
    NullOperation operation;
    EXPECT_FALSE(operation.load(adjustObject()));
    EXPECT_TRUE(operation.save().is_null());
}

TEST(OperationJson, CopiesAndMovesCarryEveryField)
{
    auto scale = std::unique_ptr<Operation>(loaded<ScaleOperation>(scaleObject()));
    const auto& original = static_cast<const ScaleOperation&>(*scale);
    ScaleOperation copy = original;
    EXPECT_EQ(copy.save(), original.save());
    ScaleOperation moved = std::move(copy);
    EXPECT_EQ(moved.save(), original.save());

    GradientOperation gradient;
    gradient.load(gradientObject());
    GradientOperation assigned;
    assigned = gradient;
    EXPECT_EQ(assigned.save(), gradient.save());
}

// ---- Bad documents fail with the JSON library's own exceptions ---------------------------

enum class Kind { TypeError, OutOfRange };

// What loads the text: an operation of a type, or a whole document.
constexpr int kDocument = -1;

struct BadLoad {
    std::string name;
    int target; // an Operation::Type value or kDocument
    std::string text;
    Kind kind;
    int id;
};

std::ostream& operator<<(std::ostream& out, const BadLoad& bad)
{
    return out << bad.name;
}

std::string with(json object, const char* key, const json& value)
{
    object[key] = value;
    return object.dump();
}

void load(int target, const json& value)
{
    if (target == kDocument) {
        OperationsDoc().load(value);
        return;
    }
    blank(Operation::Type(target))->load(value);
}

std::vector<BadLoad> badLoads()
{
    constexpr int feather = int(Operation::Type::Feather), gradient = int(Operation::Type::Gradient),
                  scale = int(Operation::Type::Scale), adjust = int(Operation::Type::Adjust);
    std::vector<BadLoad> cases = {
        {"VerticalAsNumber", gradient, with(gradientObject(), "vertical", 1), Kind::TypeError, 302},
        {"FactorAsString", adjust, R"({"rFactor":"1","gFactor":1,"bFactor":1})", Kind::TypeError, 302},
        {"TemplateValueAsString", scale, R"({"template":[["2"]],"spread":0})", Kind::TypeError, 302},
        {"IdAsNumber", scale, R"({"id":3,"points":null,"spread":0})", Kind::TypeError, 302},
        {"FolderAsNumber", kDocument, R"({"inputFolder":1,"operations":[]})", Kind::TypeError, 302},
        {"FeatherNotAnObject", feather, "[1,2]", Kind::TypeError, 305},
        {"AdjustNotAnObject", adjust, "0.5", Kind::TypeError, 305},
        {"DocumentNotAnObject", kDocument, "[]", Kind::TypeError, 305},
        {"ElementNotAnObject", kDocument, R"({"operations":[5]})", Kind::TypeError, 305},
        {"ScaleNotAnObject", scale, R"("points")", Kind::TypeError, 305},
        {"EmptyTemplate", scale, R"({"template":[],"spread":0})", Kind::OutOfRange, 401},
        {"TemplateShortRow", scale, R"({"template":[[1,2],[3]],"spread":0})", Kind::OutOfRange, 401},
        {"PointsShortRow", scale, R"({"points":[[[1]],[[1,2],[3]]],"spread":0})", Kind::OutOfRange, 401},
        {"PointsEmptyGrid", scale, R"({"points":[[]],"spread":0})", Kind::OutOfRange, 401},
        {"TypeHuge", kDocument, R"({"operations":[{"type":1e300}]})", Kind::OutOfRange, 406},
        {"TypeHugeNegative", kDocument, R"({"operations":[{"type":-1e300}]})", Kind::OutOfRange, 406},
        {"ModuleWidthHuge", feather, R"({"moduleWidth":1e300})", Kind::OutOfRange, 406},
        {"ModuleHeightBeyondInt", gradient, R"({"moduleWidth":1,"moduleHeight":2147483648})", Kind::OutOfRange,
         406},
        {"EdgeWidthBelowInt", feather, R"({"moduleWidth":1,"moduleHeight":1,"edgeWidth":-2147483649})",
         Kind::OutOfRange, 406},
        {"SpreadBeyondFloat", scale, R"({"points":null,"spread":1e300})", Kind::OutOfRange, 406},
        {"TemplateValueBeyondFloat", scale, R"({"template":[[1e39]],"spread":0})", Kind::OutOfRange, 406},
        {"WindowBeyondFloat", scale, R"({"points":null,"spread":0,"win_h":-1e39})", Kind::OutOfRange, 406},
    };

    // Every required key, left out of an otherwise complete object.
    const auto withoutEach = [&cases](const char* what, int target, const json& complete) {
        for (const auto& [key, value] : complete.items()) {
            if (key == "type" || key == "id" || key.rfind("win_", 0) == 0)
                continue; // not required
            json partial = complete;
            partial.erase(key);
            cases.push_back({std::string(what) + "Without_" + key, target, partial.dump(), Kind::OutOfRange, 403});
        }
    };
    withoutEach("Adjust", adjust, adjustObject());
    withoutEach("Feather", feather, featherObject());
    withoutEach("Gradient", gradient, gradientObject());
    withoutEach("Scale", scale, scaleObject());
    withoutEach("Document", kDocument, json{{"operations", json::array()}});
    cases.push_back({"ElementWithout_type", kDocument, R"({"operations":[{"rFactor":1}]})", Kind::OutOfRange, 403});
    return cases;
}

class OperationBadLoad : public testing::TestWithParam<BadLoad> {};

// Caught by their own types across the library's hidden-visibility boundary.
TEST_P(OperationBadLoad, FailsWithTheJsonLibrarysException)
{
    const BadLoad& bad = GetParam();
    const json value = json::parse(bad.text);
    try {
        load(bad.target, value);
        ADD_FAILURE() << "no exception";
    } catch (const nlohmann::json::type_error& error) {
        EXPECT_EQ(bad.kind, Kind::TypeError) << error.what();
        EXPECT_EQ(error.id, bad.id) << error.what();
    } catch (const nlohmann::json::out_of_range& error) {
        EXPECT_EQ(bad.kind, Kind::OutOfRange) << error.what();
        EXPECT_EQ(error.id, bad.id) << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Table, OperationBadLoad, testing::ValuesIn(badLoads()),
                         [](const auto& info) { return info.param.name; });

TEST(OperationJson, ExceptionsAreTheLibrarysOwnWithItsTexts)
{
    const auto message = [](int target, const char* text) -> std::string {
        try {
            load(target, json::parse(text));
        } catch (const nlohmann::json::exception& error) {
            return error.what();
        }
        return "no exception";
    };
    EXPECT_EQ(message(int(Operation::Type::Feather), "[1]"),
              "[json.exception.type_error.305] cannot use operator[] with a string argument with array");
    EXPECT_EQ(message(int(Operation::Type::Gradient), R"({"moduleWidth":1,"moduleHeight":1,"edgeWidth":1,
                                                          "edgeHeight":1,"vertical":1})"),
              "[json.exception.type_error.302] type must be boolean, but is number");
    EXPECT_EQ(message(int(Operation::Type::Adjust), R"({"rFactor":1})"),
              "[json.exception.out_of_range.403] key 'gFactor' not found");
    EXPECT_EQ(message(int(Operation::Type::Scale), R"({"template":[[1,2],[3]]})"),
              "[json.exception.out_of_range.401] array index 1 is out of range");
    EXPECT_THAT(message(kDocument, R"({"operations":[{"type":1e300}]})"),
                testing::StartsWith("[json.exception.out_of_range.406] "));
    // Caught through the standard base as well.
    EXPECT_THROW(load(int(Operation::Type::Adjust), json::array()), std::exception);
}

TEST(OperationJson, FailedLoadKeepsTheFieldsReadBeforeIt)
{
    FeatherOperation operation;
    json object = featherObject();
    object["rFactor"] = "bright";
    EXPECT_THROW(operation.load(object), nlohmann::json::type_error);
    EXPECT_EQ(operation.moduleWidth(), 4);
    EXPECT_EQ(operation.edgeWidth(), 2);
    EXPECT_EQ(operation.edgeHeight(), 0);
    EXPECT_EQ(operation.Rfactor(), 1.0);
}

TEST(OperationJson, NumbersConvertAsTheLibraryDoesWithinRange)
{
    FeatherOperation operation;
    json object = featherObject();
    object["moduleWidth"] = 7.9;
    object["moduleHeight"] = -2147483648.5;
    object["edgeWidth"] = true;
    object["edgeHeight"] = 2147483647u;
    ASSERT_TRUE(operation.load(object));
    EXPECT_EQ(operation.moduleWidth(), 7);
    EXPECT_EQ(operation.moduleHeight(), INT_MIN);
    EXPECT_EQ(operation.edgeWidth(), 1);
    EXPECT_EQ(operation.edgeHeight(), INT_MAX);
}

// ---- A grid is never sized before its rows are seen ----------------------------------------

// Half a megabyte of JSON: 100000 rows, the first of 100000 numbers, the rest empty. Sizing the
// grid from the first row would ask for 40 GB before the second row fails.
std::string shortRowBomb(const char* key, bool nested)
{
    constexpr int kRows = 100000;
    std::string text = std::string("{\"spread\":0,\"") + key + "\":" + (nested ? "[" : "") + "[[";
    for (int i = 0; i < kRows; ++i)
        text += i ? ",0" : "0";
    text += "]";
    for (int i = 1; i < kRows; ++i)
        text += ",[]";
    text += nested ? "]]}" : "]}";
    return text;
}

std::size_t virtualMemoryInUse()
{
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    statm >> pages;
    return pages * std::size_t(sysconf(_SC_PAGESIZE));
}

// In a child whose address space may grow by no more than this.
constexpr rlim_t kHeadroom = rlim_t(1) << 30;
// Running out of memory under the address sanitizer can hang its report; the child ends anyway.
constexpr unsigned kChildSeconds = 30;

[[noreturn]] void loadBombsInSmallMemory()
{
    alarm(kChildSeconds);
    const rlimit limit{virtualMemoryInUse() + kHeadroom, RLIM_INFINITY};
    if (setrlimit(RLIMIT_AS, &limit) != 0)
        std::_Exit(3);
    for (const bool points : {false, true}) {
        ScaleOperation operation;
        try {
            operation.load(json::parse(shortRowBomb(points ? "points" : "template", points)));
            std::_Exit(2);
        } catch (const nlohmann::json::out_of_range& error) {
            if (error.id != 401)
                std::_Exit(4);
        } catch (...) {
            std::_Exit(5); // bad_alloc: the grid was sized from the first row
        }
    }
    std::_Exit(0);
}

TEST(OperationLoadDeathTest, ShortRowAfterAHugeFirstRowFailsInSmallMemory)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(loadBombsInSmallMemory(), testing::ExitedWithCode(0), "");
}

} // namespace
