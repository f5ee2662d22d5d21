// fuzz_sim_request.cpp - the simulated TQ7300's request parser: any byte
// stream through sim::DeviceModel::Receive, with quiet spells (LineIdle)
// and the clock moving between bursts, into boot mode and out again.
//
// Input: byte 0 = set-up (bits 0-1 the accepted model, bit 2 start in boot
// mode, bits 3-5 a fault for the command in byte 1 when not 0), then chunks
// of [control][length][bytes]: control bit 0 a quiet spell after the chunk,
// bits 1-7 the milliseconds that pass before it.
//
// Beyond the sanitizers, without a fault set: every answer is one byte (boot
// mode) or one well-formed frame with status '0', '1' or '2' and at most 505
// payload bytes; and every frame answer answers one request the model
// counted (well-formed or with a bad checksum), so none is answered twice
// and none without its count.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "device_model.h"
#include "frame.h"

namespace {

constexpr sim::Fault kFaults[8] = {sim::Fault::None,  sim::Fault::Silent,      sim::Fault::Refuse,
                                   sim::Fault::Late,  sim::Fault::BadChecksum, sim::Fault::GarbageFirst,
                                   sim::Fault::Split, sim::Fault::Oversize};

[[noreturn]] void Fail(const char* what, size_t replyBytes) {
    std::fprintf(stderr, "==fuzz== %s (a reply of %zu bytes)\n", what, replyBytes);
    std::abort();
}

bool WellFormedAnswer(const std::vector<uint8_t>& f) {
    if (f.size() < sim::kFrameOverhead || f[0] != sim::kStx) return false;
    if (f[1] != sim::kStatusAccepted && f[1] != sim::kStatusRefused && f[1] != sim::kStatusBadFrame) return false;
    const size_t n = static_cast<size_t>(f[2] | f[3] << 8);
    if (n > sim::kMaxReadCount || f.size() != n + sim::kFrameOverhead) return false;
    return f[4 + n] == sim::kEtx && f[5 + n] == sim::FrameChecksum(f.data(), n) && f[6 + n] == sim::kCr;
}

int CountedRequests(const sim::DeviceModel& m) {
    int n = m.BadChecksumFrames();
    for (int c = 0; c < 256; ++c) n += m.FramesReceived(static_cast<uint8_t>(c));
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t setup = data[0];
    const sim::Fault fault = kFaults[(setup >> 3) & 7];
    sim::DeviceModel model;
    model.SetModel(static_cast<uint8_t>(sim::kModelP + (setup & 3) % 3));
    if (setup & 4) model.EnterBootMode();
    if (fault != sim::Fault::None) model.SetFault(data[1], fault);

    int frameAnswers = 0;
    int64_t now = 0;
    size_t i = 2;
    while (i + 2 <= size) {
        const uint8_t control = data[i];
        size_t n = data[i + 1];
        i += 2;
        if (n > size - i) n = size - i;
        now += control >> 1;
        model.SetNow(now);
        model.Receive(data + i, n);
        i += n;
        if (control & 1) model.LineIdle();
        for (const sim::Reply& r : model.TakeReplies()) {
            if (r.bytes.empty()) Fail("an empty reply", 0);
            if (fault != sim::Fault::None) continue;
            if (r.bytes.size() == 1) continue;  // a boot-mode reply
            if (!WellFormedAnswer(r.bytes)) Fail("a malformed answer frame", r.bytes.size());
            ++frameAnswers;
        }
        if (fault == sim::Fault::None && frameAnswers != CountedRequests(model)) {
            Fail("answers and counted requests differ", 0);
        }
    }
    return 0;
}
