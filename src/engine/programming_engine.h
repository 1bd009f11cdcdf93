#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/burn_op.h"
#include "engine/platform_list.h"
#include "engine/read_back_op.h"
#include "engine/verify_op.h"
#include "engine/work_count.h"
#include "image/image_reader.h"
#include "support/byte_source.h"
#include "support/mem_source.h"

namespace zq {

class CommandProtocol;

// What the main dialog reads of the engine.
enum class EngineState : std::uint32_t {
    Idle = 0,       // no target connected
    Connected = 1,  // both connect levels done; ready for a request
    Busy = 2,       // a connect or a request is running
    Succeeded = 3,  // the last connect or request finished; infoText() says so
    Failed = 4,     // the last connect or request failed; errorText() says why
};

// Where a run stands: what the engine waits for.
enum class EngineStep : std::uint32_t {
    Unconnected = 0,
    SwitchChannelForL1 = 1,
    L1Connect = 2,
    SwitchChannelForUpload = 3,
    UploadDaemon = 4,
    ExecDaemon = 5,
    L2Connect = 6,
    Ready = 7,
    SwitchChannelForOp = 8,
    Burn = 10,
    Verify = 11,    // reading back what the burn wrote
    ReadBack = 12,  // a check: reading the module, writing nothing
};

// One module as a check found it: per image asked about, how each of its blocks compares.
struct CheckedModule {
    struct Image {
        // Empty when the image was compared; else why it could not be (it does not load, or
        // does not fit this module's memory map).
        std::string refusal;
        std::vector<RangeComparison> ranges;
    };
    PlId plID = 0;
    std::uint32_t channel = 1;
    std::vector<Image> images;  // in the order of the request's images
};

// The error text of a request that the operator ended.
inline constexpr const char* kUserAbort = "User abort";

// One processor's part of a burn request as it went, for the record that the front-ends keep of
// every run.
struct BurnedPart {
    std::uint32_t channel = 1;
    PlId plID = 0;
    std::string platform;  // the catalogue's name of plID
    std::uint64_t bytesWritten = 0;
    // Requests sent again while this processor was burnt and verified.
    std::uint64_t retransmissions = 0;
    bool verified = false;  // every byte read back equal
};

const char* engineStateName(EngineState state);
const char* engineStepName(EngineStep step);

// A programming run with one target module for one open serial port: first connect (channel
// switch, boot loader CONNECT, the platform's memory map and image reader, upload and EXEC of
// the built-in L2 daemon, daemon CONNECT), then burn requests. Units with two processors behind
// one connector are reached on adapter channel 0 ("A: ") and 1 ("B: "), each half of a run for
// A and then for B; a single processor is always on channel 1.
//
// No thread of its own and never blocking: a request starts the first command and returns; the
// dialog calls step() after it has passed a serial event or a time-out to the protocol, then
// reads state(), the texts and progress(). Everything runs on the dialog's thread.
class ProgrammingEngine {
public:
    ProgrammingEngine(CommandProtocol& protocol, PlatformList& platforms);
    ~ProgrammingEngine();
    ProgrammingEngine(const ProgrammingEngine&) = delete;
    ProgrammingEngine& operator=(const ProgrammingEngine&) = delete;

    // Requires Idle ("expected state").
    void startConnect(bool doubleProcessor);
    // Each processor's image is read back and compared right after its burn, before anything
    // else goes on the line; a burn then succeeds only when every byte is proven.
    void setVerify(bool verify) { verify_ = verify; }
    // Single-processor units ("single proc. operation"); connected ("expected state"). The
    // source must stay valid until the request has ended.
    void burn(ByteSource& fileIn);
    // Double-processor units ("double proc. operation"): A's image, then B's.
    void burnDouble(ByteSource& fileInA, ByteSource& fileInB);
    // A check instead of a burn, for the same procedures: no erase and no write. The module is
    // read where any of the images has data, once, and compared with each image; the request
    // succeeds when everything could be read, whatever it held (checkedModules() says).
    // Several images let one read tell which of them a module holds.
    void check(const std::vector<ByteSource*>& images);
    void checkDouble(const std::vector<ByteSource*>& imagesA,
                     const std::vector<ByteSource*>& imagesB);
    // One entry per module checked on this engine, in the order they were read.
    const std::vector<CheckedModule>& checkedModules() const { return checked_; }
    // One entry per processor of the last burn request that got as far as reading its image,
    // in the order they were burnt; it stays until the next burn request or connect.
    const std::vector<BurnedPart>& burnedParts() const { return burned_; }
    void step();
    // Requires Busy in a step other than Unconnected and Ready ("expected state").
    void abort();
    // Requires Succeeded or Failed ("expected state"): back to Connected or Idle.
    void acknowledge();
    // Requires a connected engine that is not Idle ("expected state").
    void disconnect();

    EngineState state() const { return state_; }
    EngineStep currentStep() const { return step_; }
    const std::string& infoText() const { return infoText_; }
    const std::string& errorText() const { return errorText_; }
    // 0..100 percent, kNoProgress for no progress bar.
    std::uint8_t progress() const { return progress_; }
    // How far the burn or check request has come, over both processors of a double unit and
    // every range and pass, in bytes (work_count.h): 0 of 0 outside a request and until its
    // first image is read. B's images are read ahead with A's, so the total never grows.
    std::uint64_t bytesDone() const { return work_.done(); }
    std::uint64_t bytesTotal() const { return work_.total(); }
    // The dialog shows the wait cursor while an image file is being read.
    bool isPreparing() const { return preparing_; }
    // "NO DEVICE" below step Ready, else the catalogue's name of plID().
    std::string deviceName() const;
    PlId plID() const { return plID_; }
    std::uint32_t channel() const { return channel_; }

private:
    // The built-in daemon for a platform (nullptr, and a REQUIRE failure, for an identifier
    // that no daemon serves).
    ByteSource* daemonFor(PlId plID);

    void switchChannel(std::uint32_t channel);
    void onSwitchForL1();
    void onL1Connect();
    void onSwitchForUpload();
    void onUploadDaemon();
    void onExecDaemon();
    void onL2Connect();
    void onSwitchForOp();
    void onBurn();
    void onVerify();
    void startVerify();
    void startCheck();
    // A burn or check request fits the connect (single or double) and the engine is ready.
    bool acceptRequest(bool doubleRequest);
    // A double unit's request begins with the switch to A; each image is read after its switch.
    void startOnA();
    // The request's first processor: the only one, or A.
    bool firstProcessor() const { return !doubleProcessor_ || channel_ == 0; }
    // Starts a memory operation on the connected target as `step`. False when it refused
    // before sending anything: the request has failed, with the operation's text.
    bool startOperation(MemOp& operation, EngineStep step);
    void onReadBack();
    // The current image loaded and fitting the memory map; else why not.
    std::string loadForCheck(ByteSource& image);
    // A burn begins and ends on the current processor.
    void beginPart();
    void endPart(bool verified);
    // The operation on the current processor ended: on to B, or the request ends.
    void endOperation(MemOpState result, const std::string& errorText);

    void takeL1Reply();
    void takeL2Reply();
    bool replyPlID(PlId& plID);
    void startDaemonUpload();
    void startBurn();
    void runOperation();
    void connectFailed(std::string text);
    void releaseTarget();
    void refreshTexts();
    // A protocol state that the current step's row does not name.
    void unexpectedProtocolState();

    CommandProtocol& protocol_;
    PlatformList& platforms_;
    std::unique_ptr<ImageReader> reader_;
    // The one operation of both the daemon upload and the burns; it exists from the L1
    // connect on, with the reader it writes from.
    std::unique_ptr<BurnOp> burnOp_;
    std::unique_ptr<VerifyOp> verifyOp_;
    std::unique_ptr<ReadBackOp> readBackOp_;
    // A check's images: of the processor being read, and of B while A is read.
    std::vector<ByteSource*> checkImages_;
    std::vector<ByteSource*> checkImagesB_;
    std::vector<CheckedModule> checked_;
    std::vector<BurnedPart> burned_;
    std::uint64_t partRetransmissionsBefore_ = 0;
    WorkCount work_;
    bool checking_ = false;
    ByteSource* fileIn_ = nullptr;
    ByteSource* fileInB_ = nullptr;
    std::array<std::unique_ptr<MemSource>, 4> daemonImages_;
    std::string infoText_;
    std::string errorText_;
    std::uint8_t progress_ = kNoProgress;
    bool preparing_ = false;
    EngineState state_ = EngineState::Idle;
    EngineStep step_ = EngineStep::Unconnected;
    PlId plID_ = 0;
    bool doubleProcessor_ = false;
    bool verify_ = false;
    std::uint32_t channel_ = 1;
};

}  // namespace zq
