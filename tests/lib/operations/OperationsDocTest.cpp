#include "OperationFixture.h"

#include "operations/OperationsDoc.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace OperationFixture;

namespace {

std::vector<Operation::Type> typesOf(const OperationsDoc& document)
{
    std::vector<Operation::Type> types;
    for (const auto& operation : document.operations)
        types.push_back(operation->type());
    return types;
}

// One of every kind, as a caller saves it.
json everyKind()
{
    return json{{"inputFolder", "in/raw"},
                {"outputFolder", "out"},
                {"operations", {featherObject(), gradientObject(), scaleObject(), adjustObject(), nullptr,
                                json::parse(R"({"type":3,"template":[[1.5,2]],"spread":0})")}}};
}

TEST(OperationsDoc, SavedDocumentLoadsBackToTheSameText)
{
    OperationsDoc document;
    ASSERT_TRUE(document.load(everyKind()));
    EXPECT_EQ(document.inputFolder, "in/raw");
    EXPECT_EQ(document.outputFolder, "out");
    using T = Operation::Type;
    EXPECT_THAT(typesOf(document), testing::ElementsAre(T::Feather, T::Gradient, T::Scale, T::Adjust, T::Null, T::Scale));

    const std::string saved = document.save().dump();
    OperationsDoc again;
    ASSERT_TRUE(again.load(json::parse(saved)));
    EXPECT_EQ(again.save().dump(), saved);
    // Each operation keeps its own values through the document.
    EXPECT_EQ(again.operations[0]->save(), featherObject());
    EXPECT_EQ(again.operations[3]->save(), adjustObject());
}

TEST(OperationsDoc, SkipsTypesOfNoOperation)
{
    OperationsDoc document;
    ASSERT_TRUE(document.load(json::parse(R"({"operations":[{"type":2},{"type":7},{"type":5,"rFactor":"not read"},
                                                             {"type":9},{"type":-1},{"type":4.5,"rFactor":2,
                                                             "gFactor":2,"bFactor":2}]})")));
    EXPECT_THAT(typesOf(document), testing::ElementsAre(Operation::Type::Null, Operation::Type::Adjust));
    EXPECT_EQ(document.inputFolder, "");
}

TEST(OperationsDoc, NullOrEmptyOperationsLoadNoneAndEmptySavesAnArray)
{
    for (const char* text : {R"({"operations":null})", R"({"operations":[]})"}) {
        OperationsDoc document;
        document.operations.push_back(std::make_unique<AdjustOperation>());
        ASSERT_TRUE(document.load(json::parse(text))) << text;
        EXPECT_TRUE(document.operations.empty()) << text;
    }
    EXPECT_EQ(OperationsDoc().save().dump(), R"({"inputFolder":"","operations":[],"outputFolder":""})");
}

TEST(OperationsDoc, NullOperationSavesAsNullAndLoadsAgain)
{
    OperationsDoc document;
    document.operations.push_back(std::make_unique<NullOperation>());
    const json saved = document.save();
    EXPECT_EQ(saved["operations"].dump(), "[null]");

    OperationsDoc again;
    ASSERT_TRUE(again.load(saved));
    EXPECT_THAT(typesOf(again), testing::ElementsAre(Operation::Type::Null));
}

// Released on reload, on failure and on destruction: LeakSanitizer checks what is left.
TEST(OperationsDoc, FailingElementKeepsTheEarlierOnesAndLeaksNothing)
{
    json document = json::parse(R"({"inputFolder":"a","operations":[]})");
    json bad = adjustObject();
    bad["bFactor"] = "blue";
    document["operations"] = {adjustObject(), featherObject(), bad, gradientObject()};

    OperationsDoc loaded;
    ASSERT_TRUE(loaded.load(everyKind()));
    EXPECT_THROW(loaded.load(document), nlohmann::json::type_error);
    EXPECT_EQ(loaded.inputFolder, "a");
    EXPECT_EQ(loaded.outputFolder, "");
    EXPECT_THAT(typesOf(loaded), testing::ElementsAre(Operation::Type::Adjust, Operation::Type::Feather));

    OperationsDoc moved = std::move(loaded);
    EXPECT_EQ(moved.operations.size(), 2u);
    ASSERT_TRUE(moved.load(everyKind()));
    EXPECT_EQ(moved.operations.size(), 6u);
}

} // namespace
