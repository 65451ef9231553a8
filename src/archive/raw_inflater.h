#pragma once

// A raw deflate stream (no zlib header or trailer: what a zip entry and a
// patch's streams hold) being inflated, with zlib's state ended with its
// owner.

#include <zlib.h>

class RawInflater {
public:
    RawInflater() = default;
    ~RawInflater();
    RawInflater(const RawInflater&) = delete;
    RawInflater& operator=(const RawInflater&) = delete;

    // A new stream, an earlier one ended first. False when zlib could not
    // get its state.
    bool start();
    void end();
    z_stream& stream() { return stream_; }

private:
    z_stream stream_{};
    bool started_ = false;
};
