#include "gui/unit_procedure.h"

#include "gui/sw_catalogue.h"
#include "os/file_sys.h"
#include "support/fail.h"
#include "support/string_table.h"
#include "support/text.h"

namespace zq {

namespace {

constexpr const char* kUnitNames[kUnitKindCount] = {
    "KRAB101", "KRCD101", "KREF10x", "KRGH101", "KRIJ11x",
};

constexpr const char* kExpectedState = "expected state";
constexpr const char* kImageOpen = "image open";

}  // namespace

const char* unitName(std::uint32_t kind) {
    return kind < kUnitKindCount ? kUnitNames[kind] : nullptr;
}

const char* sideName(std::uint32_t kind, std::uint32_t side) {
    if (static_cast<UnitKind>(kind) == UnitKind::Krcd101) return side == 0 ? "left" : "right";
    if (unitHasTwoSides(kind)) return side == 0 ? "A" : "B";
    return "single";
}

UnitProcedure::UnitProcedure(UnitKind unit, const char* name) : unit_(unit), unitName_(name) {}

UnitProcedure::~UnitProcedure() {
    closeImage(0);
    closeImage(1);
}

void UnitProcedure::reset() {
    setState(0);
}

const std::string& UnitProcedure::prompt() const {
    return promptText_;
}

bool UnitProcedure::inProgress() const {
    return state_ != 0;
}

void UnitProcedure::setState(std::uint32_t state) {
    state_ = state;
    promptText_ = promptFor(state);
}

std::string UnitProcedure::namedPrompt(unsigned id) const {
    return formatString(id, unitName_);
}

FileSource* UnitProcedure::image(std::uint32_t side) const {
    return side < images_.size() ? images_[side].source.get() : nullptr;
}

void UnitProcedure::closeImage(std::uint32_t side) {
    Image& image = images_[side];
    image.source.reset();
    if (image.file != nullptr) OFileSys::close(image.file);
    image.file = nullptr;
}

bool UnitProcedure::openImages(const SwCatalogue& catalogue, std::uint32_t version,
                               const ShowMessage& showMessage) {
    const auto unit = static_cast<std::uint32_t>(unit_);
    const std::uint32_t sides = unitHasTwoSides(unit) ? 2 : 1;
    bool allOpen = true;
    for (std::uint32_t side = 0; side < sides; ++side) {
        closeImage(side);
        const std::string& name = catalogue.fileName(version, unit, side);
        std::string refusal;
        std::FILE* file = OFileSys::openForRd(fromUtf8(name), false, refusal);
        if (file == nullptr) {
            if (showMessage)
                showMessage(kStrCannotOpenFile,
                            withRefusal(formatString(kStrCannotOpenFile, name.c_str()), refusal));
            allOpen = false;
            continue;
        }
        images_[side].file = file;
        images_[side].source = std::make_unique<FileSource>(file);
    }
    return allOpen;
}

// One connector.

void OneConnectorProcedure::confirm() {
    setState(1);
}

void OneConnectorProcedure::stepDone() {
    switch (state()) {
        case 1:
            setState(2);
            break;
        case 2:
            setState(0);
            break;
        default:
            failExplicit(kExpectedState);
            break;
    }
}

std::string OneConnectorProcedure::promptFor(std::uint32_t state) const {
    switch (state) {
        case 0:
            return namedPrompt(kStrConnectPrompt);
        case 1:
            return loadString(kStrPowerOnPrompt);
        default:
            return {};
    }
}

SingleUnitProcedure::SingleUnitProcedure(UnitKind unit, const char* name)
    : OneConnectorProcedure(unit, name) {
    reset();
}

ProcedureRequest SingleUnitProcedure::nextRequest() {
    switch (state()) {
        case 1:
            return {ProcedureRequest::ConnectSingle};
        case 2:
            if (!require(image(0) != nullptr, kImageOpen)) return {};
            return {ProcedureRequest::BurnSingle, image(0)};
        default:
            failExplicit(kExpectedState);
            return {};
    }
}

DualUnitProcedure::DualUnitProcedure(UnitKind unit, const char* name)
    : OneConnectorProcedure(unit, name) {
    reset();
}

ProcedureRequest DualUnitProcedure::nextRequest() {
    switch (state()) {
        case 1:
            return {ProcedureRequest::ConnectDouble};
        case 2:
            if (!require(image(0) != nullptr && image(1) != nullptr, kImageOpen)) return {};
            return {ProcedureRequest::BurnDouble, image(0), image(1)};
        default:
            failExplicit(kExpectedState);
            return {};
    }
}

// Left and right module.

LeftRightUnitProcedure::LeftRightUnitProcedure(UnitKind unit, const char* name)
    : UnitProcedure(unit, name) {
    reset();
}

void LeftRightUnitProcedure::confirm() {
    switch (state()) {
        case 0:
            setState(1);
            break;
        case 3:
            setState(4);
            break;
        default:
            failExplicit(kExpectedState);
            break;
    }
}

ProcedureRequest LeftRightUnitProcedure::nextRequest() {
    switch (state()) {
        case 1:
        case 4:
            return {ProcedureRequest::ConnectSingle};
        case 2:
        case 5: {
            // Both modules' files were opened together at the start; the right one must still
            // be there when the left one is burnt, or the pause would lead nowhere.
            if (!require(image(0) != nullptr && image(1) != nullptr, kImageOpen)) return {};
            const std::uint32_t side = state() == 2 ? 0 : 1;
            return {ProcedureRequest::BurnSingle, image(side), nullptr, side};
        }
        case 3:
            return {ProcedureRequest::None};
        default:
            failExplicit(kExpectedState);
            return {};
    }
}

void LeftRightUnitProcedure::stepDone() {
    switch (state()) {
        case 1:
        case 2:
        case 4:
            setState(state() + 1);
            break;
        case 5:
            setState(0);
            break;
        default:
            failExplicit(kExpectedState);
            break;
    }
}

std::string LeftRightUnitProcedure::promptFor(std::uint32_t state) const {
    switch (state) {
        case 0:
            return namedPrompt(kStrConnectLeftPrompt);
        case 1:
            return loadString(kStrPowerOnLeftPrompt);
        case 3:
            return namedPrompt(kStrMoveToRightPrompt);
        case 4:
            return namedPrompt(kStrInsertRightPrompt);
        default:
            return {};
    }
}

std::unique_ptr<UnitProcedure> createUnitProcedure(std::uint32_t kind) {
    const auto unit = static_cast<UnitKind>(kind);
    switch (unit) {
        case UnitKind::Krab101:
        case UnitKind::Krij11x:
            return std::make_unique<SingleUnitProcedure>(unit, unitName(kind));
        case UnitKind::Krcd101:
            return std::make_unique<LeftRightUnitProcedure>(unit, unitName(kind));
        case UnitKind::Kref10x:
        case UnitKind::Krgh101:
            return std::make_unique<DualUnitProcedure>(unit, unitName(kind));
    }
    failExplicit("unit kind");
    return nullptr;
}

}  // namespace zq
