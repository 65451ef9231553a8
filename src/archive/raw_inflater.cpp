#include "archive/raw_inflater.h"

namespace {

// Negative: a raw stream, with the largest window.
constexpr int kRawDeflateWindowBits = -15;

}  // namespace

RawInflater::~RawInflater() {
    end();
}

bool RawInflater::start() {
    end();
    stream_ = z_stream{};
    started_ = inflateInit2(&stream_, kRawDeflateWindowBits) == Z_OK;
    return started_;
}

void RawInflater::end() {
    if (started_) {
        inflateEnd(&stream_);
        started_ = false;
    }
}
