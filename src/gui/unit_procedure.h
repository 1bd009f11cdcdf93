#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

namespace zq {

class FileSource;
class SwCatalogue;

// The unit types in the order of the unit combo box; the values index the catalogue's files.
enum class UnitKind : std::uint32_t {
    Krab101 = 0,
    Krcd101 = 1,
    Kref10x = 2,
    Krgh101 = 3,
    Krij11x = 4,
};

// "KRAB101" ... "KRIJ11x"; nullptr for a kind outside the set.
const char* unitName(std::uint32_t kind);

// How the journal and `check` name a side of a unit: "single" for a one-processor unit, "left"
// and "right" for the unit of two modules, "A" and "B" for two processors behind one connector.
const char* sideName(std::uint32_t kind, std::uint32_t side);

// What a procedure asks the engine to do next. The sources stay owned by the procedure.
struct ProcedureRequest {
    enum Kind : std::uint32_t {
        None = 0,           // wait for the operator
        ConnectSingle = 1,  // connect to a single-processor target
        ConnectDouble = 2,  // connect to both processors of a two-processor target
        BurnSingle = 3,     // burn fileA
        BurnDouble = 4,     // burn fileA into processor A, then fileB into B
    };

    std::uint32_t kind = None;
    FileSource* fileA = nullptr;
    FileSource* fileB = nullptr;
    // Whose image fileA is: 0 for the only processor, A or the left module; 1 for the right.
    std::uint32_t side = 0;
};

// Shows one operator message (string-table id and the formatted text).
using ShowMessage = std::function<void(unsigned stringId, const std::string& text)>;

// The guided procedure of one unit type: the operator and the program take turns, and the
// procedure says what the operator is to do (prompt) and what the engine is to do next
// (nextRequest). The main dialog calls confirm() when the operator presses "Naprogramovat",
// stepDone() when an engine request succeeded, and reset() when the procedure ends or fails.
class UnitProcedure {
public:
    virtual ~UnitProcedure();
    UnitProcedure(const UnitProcedure&) = delete;
    UnitProcedure& operator=(const UnitProcedure&) = delete;

    virtual void reset();
    virtual const std::string& prompt() const;
    virtual void confirm() = 0;
    virtual ProcedureRequest nextRequest() = 0;
    virtual void stepDone() = 0;
    virtual bool inProgress() const;

    // Opens the image files of `version` for this unit: side 0, and side 1 for the units that
    // have two. A file that does not open gets its own message (kStrCannotOpenFile with its name);
    // the other side is tried all the same. True when every file opened. Files held from an earlier
    // start are closed first.
    bool openImages(const SwCatalogue& catalogue, std::uint32_t version,
                    const ShowMessage& showMessage);

    UnitKind unit() const { return unit_; }
    const char* name() const { return unitName_; }
    std::uint32_t state() const { return state_; }
    // The open image of a side, or nullptr.
    FileSource* image(std::uint32_t side) const;

protected:
    UnitProcedure(UnitKind unit, const char* name);

    // The prompt of the current state.
    virtual std::string promptFor(std::uint32_t state) const = 0;
    void setState(std::uint32_t state);
    // The prompt text of string `id` with the unit name in place of %s.
    std::string namedPrompt(unsigned id) const;

private:
    struct Image {
        std::FILE* file = nullptr;
        std::unique_ptr<FileSource> source;
    };
    void closeImage(std::uint32_t side);

    UnitKind unit_;
    const char* unitName_;
    std::array<Image, 2> images_;
    std::string promptText_;
    std::uint32_t state_ = 0;
};

// The units programmed through one connector: one processor (SingleUnitProcedure) or two
// behind it, reached through the adapter's two channels (DualUnitProcedure). State 0: not
// started; 1: connect; 2: burn.
class OneConnectorProcedure : public UnitProcedure {
public:
    void confirm() override;
    void stepDone() override;

protected:
    using UnitProcedure::UnitProcedure;
    std::string promptFor(std::uint32_t state) const override;
};

class SingleUnitProcedure : public OneConnectorProcedure {
public:
    SingleUnitProcedure(UnitKind unit, const char* name);
    ProcedureRequest nextRequest() override;
};

class DualUnitProcedure : public OneConnectorProcedure {
public:
    DualUnitProcedure(UnitKind unit, const char* name);
    ProcedureRequest nextRequest() override;
};

// A unit of two modules with a connector each: the left module is connected and burnt, then
// the procedure pauses (state 3) while the operator moves the adapter to the right module,
// which is connected and burnt in states 4 and 5.
class LeftRightUnitProcedure : public UnitProcedure {
public:
    LeftRightUnitProcedure(UnitKind unit, const char* name);
    void confirm() override;
    ProcedureRequest nextRequest() override;
    void stepDone() override;

protected:
    std::string promptFor(std::uint32_t state) const override;
};

// The procedure of unit kind 0..4 in state 0; another kind is an EXPLICIT failure and nullptr.
std::unique_ptr<UnitProcedure> createUnitProcedure(std::uint32_t kind);

}  // namespace zq
