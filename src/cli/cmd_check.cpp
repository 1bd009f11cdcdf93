#include <CLI/CLI.hpp>

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_context.h"
#include "cli/unit_run.h"
#include "engine/programming_engine.h"
#include "gui/sw_catalogue.h"
#include "gui/unit_procedure.h"
#include "gui/wokno.h"
#include "os/file_sys.h"
#include "support/json_writer.h"
#include "support/string_table.h"
#include "support/text.h"

namespace zq::cli {

namespace {

struct CheckOptions : UnitRunOptions {
    bool any = false;
};

// One version's image files of the unit, open for the check.
struct Candidate {
    std::uint32_t version = 0;
    std::array<std::FILE*, kSideCount> files{};
    std::array<std::unique_ptr<FileSource>, kSideCount> sources;
    std::string refusal;  // a file that did not open

    Candidate() = default;
    Candidate(const Candidate&) = delete;
    Candidate& operator=(const Candidate&) = delete;
    ~Candidate() {
        for (std::FILE* file : files)
            if (file != nullptr) OFileSys::close(file);
    }
};

// What a module holds, without changing it: the procedure up to the daemon as for a burn, then
// a read of every block of the version's images (with --any, of every version's, each address
// once) and a report per module, version and range.
class CheckRun : public UnitRun {
public:
    CheckRun(CliContext& context, const CheckOptions& options)
        : UnitRun(context, options), any_(options.any) {}

protected:
    bool prepare(const SwCatalogue& catalogue, std::uint32_t unit, std::int32_t version,
                 DialogSetup& setup) override;
    int succeeded(MainDialog& dialog, TerminalView& view) override;

private:
    std::string versionLabel(std::uint32_t version) const;
    std::string sideName(std::size_t module, const CheckedModule& checked) const;
    // The version's images in every module read, compared and equal.
    bool held(const std::vector<CheckedModule>& modules, std::size_t image) const;
    void report(const CheckedModule& checked, const std::string& side, const Candidate& candidate,
                const CheckedModule::Image& image);

    bool any_;
    const SwCatalogue* catalogue_ = nullptr;
    std::uint32_t unit_ = 0;
    // Those that opened are compared, in this order; the others are only reported.
    std::vector<std::unique_ptr<Candidate>> candidates_;
    std::vector<const Candidate*> compared_;
};

bool CheckRun::prepare(const SwCatalogue& catalogue, std::uint32_t unit, std::int32_t version,
                       DialogSetup& setup) {
    catalogue_ = &catalogue;
    unit_ = unit;
    const std::uint32_t sides = unitHasTwoSides(unit) ? 2 : 1;
    for (std::uint32_t v = 0; v < catalogue.versionCount(); ++v) {
        if (!any_ && static_cast<std::int32_t>(v) != version) continue;
        auto candidate = std::make_unique<Candidate>();
        candidate->version = v;
        for (std::uint32_t side = 0; side < sides && candidate->refusal.empty(); ++side) {
            const std::string& name = catalogue.fileName(v, unit, side);
            std::string refusal;
            candidate->files[side] = OFileSys::openForRd(fromUtf8(name), false, refusal);
            if (candidate->files[side] == nullptr)
                candidate->refusal =
                    withRefusal(formatString(kStrCannotOpenFile, name.c_str()), refusal);
            else
                candidate->sources[side] = std::make_unique<FileSource>(candidate->files[side]);
        }
        if (candidate->refusal.empty()) {
            for (std::uint32_t side = 0; side < sides; ++side)
                setup.checkImages[side].push_back(candidate->sources[side].get());
            compared_.push_back(candidate.get());
        }
        candidates_.push_back(std::move(candidate));
    }
    if (compared_.empty()) {
        for (const auto& candidate : candidates_) context_.err << candidate->refusal << '\n';
        return false;
    }
    setup.check = true;
    return true;
}

std::string CheckRun::versionLabel(std::uint32_t version) const {
    return catalogue_->versionId(version) + " (" + catalogue_->versionName(version) + ")";
}

std::string CheckRun::sideName(std::size_t module, const CheckedModule& checked) const {
    // The left/right unit's modules come one after the other; A and B by their channel.
    const bool twoModules = static_cast<UnitKind>(unit_) == UnitKind::Krcd101;
    return zq::sideName(unit_, twoModules ? static_cast<std::uint32_t>(module)
                                          : (checked.channel == 0 ? 0u : 1u));
}

bool CheckRun::held(const std::vector<CheckedModule>& modules, std::size_t image) const {
    const std::size_t expected = unitHasTwoSides(unit_) ? 2 : 1;
    if (modules.size() != expected) return false;
    for (const CheckedModule& module : modules) {
        if (image >= module.images.size() || !module.images[image].refusal.empty()) return false;
        for (const RangeComparison& range : module.images[image].ranges)
            if (range.differences != 0) return false;
    }
    return true;
}

void CheckRun::report(const CheckedModule& checked, const std::string& side,
                      const Candidate& candidate, const CheckedModule::Image& image) {
    const std::string id = catalogue_->versionId(candidate.version);
    const std::string plID = formatText("0x%08X", checked.plID);
    if (context_.json) {
        auto common = [&](JsonWriter& json) {
            json.field("event", "check");
            json.field("side", side);
            json.field("plid", plID);
            json.field("sw", id);
        };
        if (!image.refusal.empty())
            return jsonLine(context_.out, [&](JsonWriter& json) {
                common(json);
                json.field("refusal", image.refusal);
            });
        for (const RangeComparison& range : image.ranges)
            jsonLine(context_.out, [&](JsonWriter& json) {
                common(json);
                json.field("first", range.first);
                json.field("last", range.last);
                json.field("bytes", range.bytes);
                json.field("differences", range.differences);
                if (range.differences != 0) json.field("firstDifference", range.firstDifference);
            });
        return;
    }
    const std::string head = side + ", plID " + plID + ", " + versionLabel(candidate.version);
    if (!image.refusal.empty()) {
        context_.out << head << ": not compared: " << image.refusal << '\n';
        return;
    }
    for (const RangeComparison& range : image.ranges) {
        context_.out << head << formatText(": 0x%08X - 0x%08X ", range.first, range.last);
        if (range.differences == 0)
            context_.out << "equal\n";
        else
            context_.out << formatText(range.differences == 1
                                           ? "%u byte differs, first at 0x%08X\n"
                                           : "%u bytes differ, first at 0x%08X\n",
                                       range.differences, range.firstDifference);
    }
}

int CheckRun::succeeded(MainDialog& dialog, TerminalView&) {
    const std::vector<CheckedModule> modules = dialog.engine()->checkedModules();
    dialog.onClosePort();
    for (std::size_t m = 0; m < modules.size(); ++m)
        for (std::size_t i = 0; i < compared_.size() && i < modules[m].images.size(); ++i)
            report(modules[m], sideName(m, modules[m]), *compared_[i], modules[m].images[i]);
    std::vector<std::uint32_t> heldVersions;
    for (std::size_t i = 0; i < compared_.size(); ++i)
        if (held(modules, i)) heldVersions.push_back(compared_[i]->version);
    for (const auto& candidate : candidates_)
        if (!candidate->refusal.empty())
            context_.err << versionLabel(candidate->version)
                         << ": not compared: " << candidate->refusal << '\n';

    const bool ok = !heldVersions.empty();
    if (context_.json) {
        jsonLine(context_.out, [&](JsonWriter& json) {
            json.field("event", "result");
            json.field("ok", ok);
            json.field("exitCode", ok ? kExitDone : kExitFailed);
            json.key("held");
            json.beginArray();
            for (std::uint32_t version : heldVersions) json.value(catalogue_->versionId(version));
            json.endArray();
        });
    } else {
        std::string list;
        for (std::uint32_t version : heldVersions)
            list += (list.empty() ? "" : ", ") + versionLabel(version);
        context_.out << "Held: " << (list.empty() ? "none" : list) << '\n';
    }
    return ok ? kExitDone : kExitFailed;
}

}  // namespace

void registerCheckCommand(CLI::App& app, CliContext& context) {
    auto options = std::make_shared<CheckOptions>();
    CLI::App* command = addCommand(
        app, context, "check",
        "Read a unit's modules back and tell whether they hold a version of RT19_bin, changing "
        "nothing",
        [&context, options] { return CheckRun(context, *options).run(); });
    CLI::Option* sw = addUnitRunOptions(*command, *options);
    command
        ->add_flag("--any", options->any,
                   "Compare with every version of config.ini and name those the unit holds")
        ->excludes(sw);
}

}  // namespace zq::cli
