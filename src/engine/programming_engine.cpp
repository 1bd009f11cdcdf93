#include "engine/programming_engine.h"

#include "df1/command_protocol.h"
#include "engine/daemon_images.h"
#include "engine/image_fit.h"
#include "support/fail.h"
#include "support/text.h"

namespace zq {

namespace {

constexpr const char* kNoSwitch = "Unable to switch convertor channel";
constexpr const char* kL1Error = "L1-connect communication error";
constexpr const char* kL2Error = "L2-connect communication error";
constexpr const char* kExecError = "EXEC command not successful";
constexpr const char* kUnsupported = "Unsupported platform (0x%08X)";
// The daemons are built in: one that does not load is the program's fault, not the operator's.
constexpr const char* kBadDaemon = "chyba bin souboru L2 daemona";

}  // namespace

const char* engineStateName(EngineState state) {
    switch (state) {
        case EngineState::Idle:
            return "Idle";
        case EngineState::Connected:
            return "Connected";
        case EngineState::Busy:
            return "Busy";
        case EngineState::Succeeded:
            return "Succeeded";
        case EngineState::Failed:
            return "Failed";
    }
    return "?";
}

const char* engineStepName(EngineStep step) {
    switch (step) {
        case EngineStep::Unconnected:
            return "Unconnected";
        case EngineStep::SwitchChannelForL1:
            return "SwitchChannelForL1";
        case EngineStep::L1Connect:
            return "L1Connect";
        case EngineStep::SwitchChannelForUpload:
            return "SwitchChannelForUpload";
        case EngineStep::UploadDaemon:
            return "UploadDaemon";
        case EngineStep::ExecDaemon:
            return "ExecDaemon";
        case EngineStep::L2Connect:
            return "L2Connect";
        case EngineStep::Ready:
            return "Ready";
        case EngineStep::SwitchChannelForOp:
            return "SwitchChannelForOp";
        case EngineStep::Burn:
            return "Burn";
        case EngineStep::Verify:
            return "Verify";
        case EngineStep::ReadBack:
            return "ReadBack";
    }
    return "?";
}

ProgrammingEngine::ProgrammingEngine(CommandProtocol& protocol, PlatformList& platforms)
    : protocol_(protocol), platforms_(platforms) {
    for (std::size_t i = 0; i < kDaemonImageCount; ++i) {
        const EmbeddedFile& file = daemonImages()[i].file;
        // The view is read-only in practice: a MemSource only ever reads through it.
        daemonImages_[i] =
            std::make_unique<MemSource>(MemPtr(const_cast<std::uint8_t*>(file.data), file.size));
    }
}

ProgrammingEngine::~ProgrammingEngine() {
    releaseTarget();
}

ByteSource* ProgrammingEngine::daemonFor(PlId plID) {
    const std::size_t index = daemonIndexFor(plID);
    return index < daemonImages_.size() ? daemonImages_[index].get() : nullptr;
}

void ProgrammingEngine::releaseTarget() {
    work_.clear();
    readBackOp_.reset();
    verifyOp_.reset();
    burnOp_.reset();
    reader_.reset();
}

void ProgrammingEngine::switchChannel(std::uint32_t channel) {
    channel_ = channel;
    protocol_.switchChannel(channel);
}

// --- requests --------------------------------------------------------------------------------

void ProgrammingEngine::startConnect(bool doubleProcessor) {
    if (!require(state_ == EngineState::Idle && step_ == EngineStep::Unconnected, "expected state"))
        return;
    // Whatever an earlier, failed connect had created goes now.
    releaseTarget();
    doubleProcessor_ = doubleProcessor;
    plID_ = 0;
    // A new target: what was burnt before belongs to another module.
    burned_.clear();
    errorText_.clear();
    state_ = EngineState::Busy;
    step_ = EngineStep::SwitchChannelForL1;
    switchChannel(doubleProcessor ? 0 : 1);
    refreshTexts();
}

bool ProgrammingEngine::acceptRequest(bool doubleRequest) {
    if (!require(doubleRequest == doubleProcessor_,
                 doubleRequest ? "double proc. operation" : "single proc. operation"))
        return false;
    if (!require(state_ == EngineState::Connected && step_ == EngineStep::Ready && reader_,
                 "expected state"))
        return false;
    work_.clear();
    return true;
}

void ProgrammingEngine::startOnA() {
    preparing_ = true;
    state_ = EngineState::Busy;
    step_ = EngineStep::SwitchChannelForOp;
    switchChannel(0);
    refreshTexts();
}

void ProgrammingEngine::burn(ByteSource& fileIn) {
    if (!acceptRequest(false)) return;
    checking_ = false;
    burned_.clear();
    fileIn_ = &fileIn;
    preparing_ = true;
    infoText_ = "Reading file ...";
    startBurn();
}

void ProgrammingEngine::check(const std::vector<ByteSource*>& images) {
    if (!acceptRequest(false)) return;
    checking_ = true;
    checkImages_ = images;
    preparing_ = true;
    infoText_ = "Reading file ...";
    startBurn();
}

void ProgrammingEngine::checkDouble(const std::vector<ByteSource*>& imagesA,
                                    const std::vector<ByteSource*>& imagesB) {
    if (!acceptRequest(true)) return;
    checking_ = true;
    checkImages_ = imagesA;
    checkImagesB_ = imagesB;
    startOnA();
}

void ProgrammingEngine::burnDouble(ByteSource& fileInA, ByteSource& fileInB) {
    if (!acceptRequest(true)) return;
    checking_ = false;
    burned_.clear();
    fileIn_ = &fileInA;
    fileInB_ = &fileInB;
    startOnA();
}

void ProgrammingEngine::abort() {
    if (!require(state_ == EngineState::Busy && step_ != EngineStep::Unconnected &&
                     step_ != EngineStep::Ready,
                 "expected state"))
        return;
    protocol_.abort();
    if (step_ == EngineStep::Burn || step_ == EngineStep::Verify ||
        step_ == EngineStep::ReadBack) {
        if (burnOp_) burnOp_->abort();
        if (verifyOp_) verifyOp_->abort();
        if (readBackOp_) readBackOp_->abort();
        if (!checking_) endPart(false);
        step_ = EngineStep::Ready;
    } else {
        // A connect cut short leaves the target in no known state: it counts as not connected.
        if (step_ == EngineStep::UploadDaemon && burnOp_) burnOp_->abort();
        step_ = EngineStep::Unconnected;
    }
    state_ = EngineState::Failed;
    errorText_ = kUserAbort;
    preparing_ = false;
    progress_ = kNoProgress;
}

void ProgrammingEngine::acknowledge() {
    if (!require(state_ == EngineState::Succeeded || state_ == EngineState::Failed,
                 "expected state"))
        return;
    if (step_ == EngineStep::Unconnected)
        state_ = EngineState::Idle;
    else if (step_ == EngineStep::Ready)
        state_ = EngineState::Connected;
    else
        require(false, "expected state");
    infoText_.clear();
    errorText_.clear();
}

void ProgrammingEngine::disconnect() {
    if (!require(state_ != EngineState::Idle && step_ >= EngineStep::Ready && reader_ && burnOp_,
                 "expected state"))
        return;
    // An exchange still running would refuse the next connect's first request.
    if (state_ == EngineState::Busy) protocol_.abort();
    releaseTarget();
    state_ = EngineState::Idle;
    step_ = EngineStep::Unconnected;
    plID_ = 0;
    preparing_ = false;
    progress_ = kNoProgress;
    infoText_.clear();
    errorText_.clear();
}

std::string ProgrammingEngine::deviceName() const {
    if (step_ < EngineStep::Ready) return "NO DEVICE";
    return platforms_.nameOf(plID_);
}

// --- stepping --------------------------------------------------------------------------------

void ProgrammingEngine::step() {
    // Every step is named: a new one that is not handled here is a compiler warning.
    switch (step_) {
        case EngineStep::Unconnected:
        case EngineStep::Ready:
            break;
        case EngineStep::SwitchChannelForL1:
            onSwitchForL1();
            break;
        case EngineStep::L1Connect:
            onL1Connect();
            break;
        case EngineStep::SwitchChannelForUpload:
            onSwitchForUpload();
            break;
        case EngineStep::UploadDaemon:
            onUploadDaemon();
            break;
        case EngineStep::ExecDaemon:
            onExecDaemon();
            break;
        case EngineStep::L2Connect:
            onL2Connect();
            break;
        case EngineStep::SwitchChannelForOp:
            onSwitchForOp();
            break;
        case EngineStep::Burn:
            onBurn();
            break;
        case EngineStep::Verify:
            onVerify();
            break;
        case EngineStep::ReadBack:
            onReadBack();
            break;
    }
    if (state_ < EngineState::Succeeded) refreshTexts();
    if (state_ == EngineState::Failed) preparing_ = false;
}

void ProgrammingEngine::connectFailed(std::string text) {
    step_ = EngineStep::Unconnected;
    state_ = EngineState::Failed;
    errorText_ = std::move(text);
    progress_ = kNoProgress;
}

void ProgrammingEngine::unexpectedProtocolState() {
    require(false, "protocol state");
}

void ProgrammingEngine::onSwitchForL1() {
    switch (protocol_.state()) {
        case TxnState::Waiting:
            return;
        case TxnState::Done:
            step_ = EngineStep::L1Connect;
            protocol_.connect(1);
            return;
        case TxnState::NoReply:
            return connectFailed(kNoSwitch);
        default:
            return unexpectedProtocolState();
    }
}

void ProgrammingEngine::onL1Connect() {
    switch (protocol_.state()) {
        case TxnState::Idle:
        case TxnState::Waiting:
            return;
        case TxnState::Done:
            return takeL1Reply();
        case TxnState::NoReply:
            return connectFailed(kL1Error);
        default:
            return unexpectedProtocolState();
    }
}

void ProgrammingEngine::onSwitchForUpload() {
    switch (protocol_.state()) {
        case TxnState::Waiting:
            return;
        case TxnState::Done:
            return startDaemonUpload();
        case TxnState::NoReply:
            return connectFailed(kNoSwitch);
        default:
            return unexpectedProtocolState();
    }
}

void ProgrammingEngine::onUploadDaemon() {
    if (!require(burnOp_ != nullptr, "expected state")) return connectFailed(kBadDaemon);
    burnOp_->poll();
    switch (burnOp_->state()) {
        case MemOpState::Idle:
        case MemOpState::Running:
            return;
        case MemOpState::Done:
            step_ = EngineStep::ExecDaemon;
            protocol_.exec(reader_->entryAddress());
            return;
        case MemOpState::Failed:
        case MemOpState::Aborted:
            return connectFailed(burnOp_->errorText());
    }
}

void ProgrammingEngine::onExecDaemon() {
    switch (protocol_.state()) {
        case TxnState::Idle:
        case TxnState::Waiting:
        case TxnState::InProgress:
            return;
        case TxnState::Done:
            step_ = EngineStep::L2Connect;
            protocol_.connect(2);
            return;
        case TxnState::NoReply:
        case TxnState::ErrorReply:
            return connectFailed(kExecError);
    }
}

void ProgrammingEngine::onL2Connect() {
    switch (protocol_.state()) {
        case TxnState::Waiting:
            return;
        case TxnState::Done:
            return takeL2Reply();
        case TxnState::NoReply:
            return connectFailed(kL2Error);
        default:
            return unexpectedProtocolState();
    }
}

void ProgrammingEngine::onSwitchForOp() {
    switch (protocol_.state()) {
        case TxnState::Waiting:
            return;
        case TxnState::Done:
            state_ = EngineState::Connected;
            step_ = EngineStep::Ready;
            return startBurn();
        case TxnState::NoReply:
            return connectFailed(kNoSwitch);
        default:
            return unexpectedProtocolState();
    }
}

void ProgrammingEngine::onBurn() {
    if (!require(burnOp_ != nullptr, "expected state")) return;
    burnOp_->poll();
    const MemOpState result = burnOp_->state();
    if (result == MemOpState::Idle || result == MemOpState::Running) return;
    if (result == MemOpState::Done && verify_) return startVerify();
    endOperation(result, burnOp_->errorText());
}

void ProgrammingEngine::startVerify() {
    if (!require(verifyOp_ != nullptr, "expected state")) return;
    step_ = EngineStep::Verify;
    work_.follow(verifyOp_.get());
    verifyOp_->reset();
    verifyOp_->start(true);
    // A refusal sends no command: no protocol event would step the engine on.
    if (verifyOp_->state() == MemOpState::Failed)
        endOperation(MemOpState::Failed, verifyOp_->errorText());
}

void ProgrammingEngine::onVerify() {
    if (!require(verifyOp_ != nullptr, "expected state")) return;
    verifyOp_->poll();
    const MemOpState result = verifyOp_->state();
    if (result == MemOpState::Idle || result == MemOpState::Running) return;
    endOperation(result, verifyOp_->errorText());
}

void ProgrammingEngine::endOperation(MemOpState result, const std::string& errorText) {
    progress_ = kNoProgress;
    if (!checking_) endPart(result == MemOpState::Done && verify_);
    if (result == MemOpState::Done && doubleProcessor_ && channel_ == 0) {
        // A is done; B is prepared exactly as A was. No success is shown until B is done too.
        fileIn_ = fileInB_;
        checkImages_ = checkImagesB_;
        step_ = EngineStep::SwitchChannelForOp;
        preparing_ = true;
        switchChannel(1);
        return;
    }
    if (result == MemOpState::Done) {
        state_ = EngineState::Succeeded;
        infoText_ = checking_ ? "Check of the module finished" : "Burn operation successful";
    } else {
        state_ = EngineState::Failed;
        errorText_ = errorText;
    }
    step_ = EngineStep::Ready;
}

// --- connect ---------------------------------------------------------------------------------

bool ProgrammingEngine::replyPlID(PlId& plID) {
    MemPtr reply;
    protocol_.reply(reply);
    if (reply.size() < 4) return false;
    plID = reply.getU32(0, kLittleEndian);
    return true;
}

void ProgrammingEngine::takeL1Reply() {
    PlId id = 0;
    if (!replyPlID(id)) return connectFailed(kL1Error);
    if (doubleProcessor_ && channel_ == 0) {
        // The first L1 CONNECT of a double unit only learns A's identifier.
        plID_ = id;
        step_ = EngineStep::SwitchChannelForL1;
        return switchChannel(1);
    }
    if (doubleProcessor_ && id != plID_)
        return connectFailed(formatText("Different platforms (0x%08X != 0x%08X)", id, plID_));
    plID_ = id;
    releaseTarget();
    reader_ = createImageReader(id);
    const bool known = platforms_.select(id);
    if (!reader_ || !known) {
        reader_.reset();
        return connectFailed(formatText(kUnsupported, id));
    }
    burnOp_ = std::make_unique<BurnOp>(protocol_, *reader_, platforms_.current());
    verifyOp_ = std::make_unique<VerifyOp>(protocol_, *reader_, platforms_.current());
    readBackOp_ = std::make_unique<ReadBackOp>(protocol_, *reader_, platforms_.current());
    if (doubleProcessor_) {
        step_ = EngineStep::SwitchChannelForUpload;
        return switchChannel(0);
    }
    startDaemonUpload();
}

void ProgrammingEngine::startDaemonUpload() {
    step_ = EngineStep::UploadDaemon;
    // B's daemon follows what A's daemon reported, which may be a variant that no daemon
    // serves: then there is nothing to upload.
    ByteSource* daemon = daemonFor(plID_);
    if (daemon == nullptr) return connectFailed(formatText(kUnsupported, plID_));
    daemon->seekFromStart(0);
    burnOp_->reset();
    if (!reader_->load(*daemon, true)) {
        failExplicit(kBadDaemon);
        return connectFailed(kBadDaemon);
    }
    burnOp_->start(false);
    // A refused upload sent no command, so no protocol event would ever step the engine on.
    if (burnOp_->state() == MemOpState::Failed) connectFailed(burnOp_->errorText());
}

void ProgrammingEngine::takeL2Reply() {
    PlId id = 0;
    if (!replyPlID(id)) return connectFailed(kL2Error);
    if (familyOf(id) != familyOf(plID_))
        return connectFailed(
            formatText("L2 plID (0x%08X) doesn't match L1 plID (0x%08X)", id, plID_));
    // The memory map chosen at L1 stays; the device name follows the daemon's word.
    plID_ = id;
    if (doubleProcessor_ && channel_ == 0) {
        step_ = EngineStep::SwitchChannelForUpload;
        return switchChannel(1);
    }
    step_ = EngineStep::Ready;
    state_ = EngineState::Succeeded;
    infoText_ = formatText("Connect successful (plID=0x%08X)", plID_);
}

// --- burn ------------------------------------------------------------------------------------

void ProgrammingEngine::startBurn() {
    if (checking_) return startCheck();
    if (!require(fileIn_ != nullptr && reader_ != nullptr, "expected state")) return;
    beginPart();
    // B's image is counted before A's is loaded: both may be the same source.
    const bool first = firstProcessor();
    const std::uint64_t workOfB = first && doubleProcessor_ && fileInB_ != nullptr
                                      ? burnWork(*fileInB_, plID_, platforms_.current(), verify_)
                                      : 0;
    fileIn_->seekFromStart(0);
    if (!reader_->load(*fileIn_, false)) {
        errorText_ = reader_->errorText();
        state_ = EngineState::Failed;
        preparing_ = false;
        return;
    }
    if (first) work_.begin(burnWork(*reader_, platforms_.current(), verify_) + workOfB);
    runOperation();
}

void ProgrammingEngine::beginPart() {
    burned_.push_back({channel_, plID_, platforms_.nameOf(plID_), 0, 0, false});
    partRetransmissionsBefore_ = protocol_.retransmissions();
}

void ProgrammingEngine::endPart(bool verified) {
    if (burned_.empty()) return;
    BurnedPart& part = burned_.back();
    part.bytesWritten = burnOp_ ? burnOp_->bytesWritten() : 0;
    part.retransmissions = protocol_.retransmissions() - partRetransmissionsBefore_;
    part.verified = verified;
}

void ProgrammingEngine::runOperation() {
    if (!require(state_ == EngineState::Connected && step_ == EngineStep::Ready, "expected state"))
        return;
    if (!require(burnOp_ != nullptr, "expected state")) return;
    preparing_ = false;
    startOperation(*burnOp_, EngineStep::Burn);
}

bool ProgrammingEngine::startOperation(MemOp& operation, EngineStep step) {
    work_.follow(&operation);
    operation.reset();
    operation.start(true);
    if (operation.state() == MemOpState::Failed) {
        errorText_ = operation.errorText();
        state_ = EngineState::Failed;
        return false;
    }
    step_ = step;
    state_ = EngineState::Busy;
    refreshTexts();
    return true;
}

void ProgrammingEngine::refreshTexts() {
    infoText_.clear();
    if (doubleProcessor_) infoText_ = channel_ == 0 ? "A: " : "B: ";
    switch (step_) {
        case EngineStep::L1Connect:
            infoText_ += "Sending L1 CONNECT command";
            progress_ = kNoProgress;
            break;
        case EngineStep::UploadDaemon:
            if (burnOp_) {
                infoText_ += burnOp_->infoText();
                progress_ = burnOp_->progress();
            }
            break;
        case EngineStep::ExecDaemon:
            infoText_ += "Executing L2 daemon";
            progress_ = kNoProgress;
            break;
        case EngineStep::L2Connect:
            infoText_ += "Sending L2 CONNECT command";
            progress_ = kNoProgress;
            break;
        case EngineStep::SwitchChannelForOp:
            infoText_ += "Reading file ...";
            break;
        case EngineStep::Burn:
            if (burnOp_) {
                infoText_ += burnOp_->infoText();
                progress_ = burnOp_->progress();
            }
            break;
        case EngineStep::Verify:
            if (verifyOp_) {
                infoText_ += verifyOp_->infoText();
                progress_ = verifyOp_->progress();
            }
            break;
        case EngineStep::ReadBack:
            if (readBackOp_) {
                infoText_ += readBackOp_->infoText();
                progress_ = readBackOp_->progress();
            }
            break;
        default:
            break;
    }
}

}  // namespace zq

namespace zq {

// --- check -----------------------------------------------------------------------------------

std::string ProgrammingEngine::loadForCheck(ByteSource& image) {
    image.seekFromStart(0);
    if (!reader_->load(image, false)) return reader_->errorText();
    std::string refusal = checkImageFit(*reader_, platforms_.current(), true);
    if (!refusal.empty()) return refusal;
    if (imageBlocks(*reader_, platforms_.current()).empty()) return kNoImageData;
    return {};
}

void ProgrammingEngine::startCheck() {
    if (!require(state_ == EngineState::Connected && step_ == EngineStep::Ready && reader_ &&
                     readBackOp_,
                 "expected state"))
        return;
    const bool first = firstProcessor();
    const std::uint64_t workOfB =
        first && doubleProcessor_ ? readWork(checkImagesB_, plID_, platforms_.current()) : 0;
    CheckedModule module{plID_, channel_, {}};
    std::vector<MemorySpan> spans;
    for (ByteSource* image : checkImages_) {
        CheckedModule::Image checked;
        checked.refusal = loadForCheck(*image);
        if (checked.refusal.empty()) {
            const std::vector<MemorySpan> blocks = imageBlocks(*reader_, platforms_.current());
            spans.insert(spans.end(), blocks.begin(), blocks.end());
        }
        module.images.push_back(std::move(checked));
    }
    preparing_ = false;
    checked_.push_back(std::move(module));
    std::vector<MemorySpan> joined = joinSpans(std::move(spans));
    if (first) work_.begin(readWork(joined) + workOfB);
    readBackOp_->setSpans(std::move(joined));
    if (startOperation(*readBackOp_, EngineStep::ReadBack)) return;
    // No image to read for: the first one's own reason says more than that.
    const std::vector<CheckedModule::Image>& images = checked_.back().images;
    if (!images.empty() && !images.front().refusal.empty()) errorText_ = images.front().refusal;
}

void ProgrammingEngine::onReadBack() {
    if (!require(readBackOp_ != nullptr && !checked_.empty(), "expected state")) return;
    readBackOp_->poll();
    const MemOpState result = readBackOp_->state();
    if (result == MemOpState::Idle || result == MemOpState::Running) return;
    if (result == MemOpState::Done) {
        std::vector<CheckedModule::Image>& images = checked_.back().images;
        for (std::size_t i = 0; i < images.size() && i < checkImages_.size(); ++i) {
            if (!images[i].refusal.empty()) continue;
            // The image loaded a moment ago: a source that now reads otherwise is refused.
            images[i].refusal = loadForCheck(*checkImages_[i]);
            if (images[i].refusal.empty())
                images[i].ranges =
                    compareImage(*reader_, platforms_.current(), readBackOp_->memory());
        }
    }
    endOperation(result, readBackOp_->errorText());
}

}  // namespace zq
