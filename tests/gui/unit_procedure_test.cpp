#include "gui/unit_procedure.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "common/catalogue_writer.h"
#include "gui/sw_catalogue.h"
#include "os/file_sys.h"
#include "support/mem_ptr.h"
#include "support/mem_source.h"
#include "support/string_table.h"

namespace zq {
namespace {

using testing::explicitFailure;
using testing::require;
using testing::takeFailures;

struct Message {
    unsigned id;
    std::string text;
    bool operator==(const Message&) const = default;
};

class UnitProcedureTest : public testing::InTempDirTest {
protected:
    void SetUp() override {
        InTempDirTest::SetUp();
        writeImages("a");
        // Each file holds its own name, so a test can tell which one a request carries.
        for (const std::string& name : testing::catalogueFiles("a")) dir.write(name, name);
        std::string text =
            testing::catalogueText({testing::catalogueSection("SW31", "Verze 3.1", "a")});
        MemSource source(MemPtr(reinterpret_cast<std::uint8_t*>(text.data()),
                                static_cast<std::uint32_t>(text.size())));
        ASSERT_TRUE(catalogue.read(source)) << catalogue.errorText();
    }

    std::unique_ptr<UnitProcedure> opened(UnitKind kind) {
        auto procedure = createUnitProcedure(static_cast<std::uint32_t>(kind));
        EXPECT_TRUE(procedure->openImages(catalogue, 0, record()));
        return procedure;
    }

    ShowMessage record() {
        return [this](unsigned id, const std::string& text) { messages.push_back({id, text}); };
    }

    static std::string contents(FileSource* source) {
        if (source == nullptr) return "<none>";
        source->seekFromStart(0);
        std::string text(source->size(), '\0');
        source->read(text.data(), static_cast<std::uint32_t>(text.size()));
        return text;
    }

    SwCatalogue catalogue;
    std::vector<Message> messages;
};

// The other units' prompts are kStrConnectPrompt with their names; these two have their own.
TEST_F(UnitProcedureTest, CreatesTheProcedureOfEachKindInItsFirstState) {
    std::string names;
    for (std::uint32_t kind = 0; kind < kUnitKindCount; ++kind) {
        auto procedure = createUnitProcedure(kind);
        ASSERT_NE(procedure, nullptr);
        names += std::string(procedure->name()) + " ";
        EXPECT_EQ(static_cast<std::uint32_t>(procedure->unit()), kind);
        EXPECT_FALSE(procedure->inProgress());
    }
    EXPECT_EQ(names, "KRAB101 KRCD101 KREF10x KRGH101 KRIJ11x ");
    EXPECT_EQ(createUnitProcedure(0)->prompt(),
              "Připojte KVSB k KRV konektoru KRAB101, vypněte napájeni a klikněte na tlačítko "
              "'Naprogramovat'");
    EXPECT_EQ(createUnitProcedure(1)->prompt(),
              "Připojte KVSB k KRV konektoru levého KRCD101, vypněte napájení a klikněte na "
              "tlačítko 'Naprogramovat'");
    EXPECT_EQ(createUnitProcedure(5), nullptr);
    EXPECT_EQ(takeFailures(), (std::vector{explicitFailure("unit kind")}));
}

TEST_F(UnitProcedureTest, ConfirmRestartsAOneConnectorProcedureFromAnyState) {
    auto procedure = opened(UnitKind::Krgh101);
    procedure->confirm();
    procedure->stepDone();
    procedure->confirm();
    EXPECT_EQ(procedure->state(), 1u);
    EXPECT_EQ(procedure->nextRequest().kind, ProcedureRequest::ConnectDouble);
    procedure->reset();
    EXPECT_EQ(procedure->state(), 0u);
    EXPECT_EQ(procedure->prompt(), formatString(kStrConnectPrompt, "KRGH101"));
}

TEST_F(UnitProcedureTest, CallsThatDoNotFitTheStateAreExplicitFailures) {
    for (UnitKind kind : {UnitKind::Krab101, UnitKind::Kref10x, UnitKind::Krcd101}) {
        auto procedure = opened(kind);
        EXPECT_EQ(procedure->nextRequest().kind, ProcedureRequest::None);
        procedure->stepDone();
        EXPECT_EQ(procedure->state(), 0u);
        EXPECT_EQ(takeFailures(), (std::vector{explicitFailure("expected state"),
                                               explicitFailure("expected state")}));
    }

    // The left/right procedure takes the operator's press only in its pause (state 3), and
    // nothing of the engine's there.
    auto procedure = opened(UnitKind::Krcd101);
    procedure->confirm();
    for (std::uint32_t state = 1; state <= 5; ++state) {
        state == 3 ? procedure->stepDone() : procedure->confirm();
        EXPECT_EQ(procedure->state(), state);
        EXPECT_EQ(takeFailures(), (std::vector{explicitFailure("expected state")}));
        state == 3 ? procedure->confirm() : procedure->stepDone();
    }
    EXPECT_EQ(procedure->state(), 0u);
}

TEST_F(UnitProcedureTest, ABurnWithoutItsImageIsRefused) {
    for (UnitKind kind : {UnitKind::Krab101, UnitKind::Kref10x, UnitKind::Krcd101}) {
        auto procedure = createUnitProcedure(static_cast<std::uint32_t>(kind));
        procedure->confirm();
        procedure->stepDone();
        EXPECT_EQ(procedure->nextRequest().kind, ProcedureRequest::None);
        EXPECT_EQ(takeFailures(), (std::vector{require("image open")}));
    }
}

TEST_F(UnitProcedureTest, OpensTheFilesOfItsSidesAndNamesEachOneThatFails) {
    const char* const files[][2] = {{"a_qel.bin", "<none>"},
                                    {"a_mub_a.bin", "a_mub_b.bin"},
                                    {"a_vog_a.bin", "a_vog_b.bin"},
                                    {"a_fut_a.bin", "a_fut_b.bin"},
                                    {"a_kaj.bin", "<none>"}};
    for (std::uint32_t kind = 0; kind < kUnitKindCount; ++kind) {
        auto procedure = createUnitProcedure(kind);
        EXPECT_TRUE(procedure->openImages(catalogue, 0, record()));
        EXPECT_EQ(contents(procedure->image(0)), files[kind][0]);
        EXPECT_EQ(contents(procedure->image(1)), files[kind][1]);
        // A unit with two processors behind one connector connects to both.
        procedure->confirm();
        EXPECT_EQ(procedure->nextRequest().kind, kind == 2 || kind == 3
                                                     ? ProcedureRequest::ConnectDouble
                                                     : ProcedureRequest::ConnectSingle);
    }

    // One side missing: the other is still opened, and the message names only the missing one.
    std::filesystem::remove(dir.path() / "a_mub_b.bin");
    auto leftRight = createUnitProcedure(1);
    EXPECT_FALSE(leftRight->openImages(catalogue, 0, record()));
    EXPECT_EQ(
        messages,
        (std::vector<Message>{{kStrCannotOpenFile, "Nepodařilo se otevřít soubor a_mub_b.bin"}}));
    EXPECT_EQ(contents(leftRight->image(0)), "a_mub_a.bin");
    EXPECT_EQ(leftRight->image(1), nullptr);

    // A later start opens the files afresh, so a file that came back is found.
    messages.clear();
    dir.write("a_mub_b.bin", "new");
    EXPECT_TRUE(leftRight->openImages(catalogue, 0, record()));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(contents(leftRight->image(0)), "a_mub_a.bin");
    EXPECT_EQ(contents(leftRight->image(1)), "new");
}

}  // namespace
}  // namespace zq
