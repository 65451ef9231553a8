#include "common/sha256.h"

#include <climits>

bool startSha256(Sha256Hasher& hasher) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) {
        return false;
    }
    hasher.algorithm.reset(algorithm);
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) != 0) {
        return false;
    }
    hasher.hash.reset(hash);
    return true;
}

bool addToSha256(Sha256Hasher& hasher, const void* bytes, size_t count) {
    auto* data = static_cast<PUCHAR>(const_cast<void*>(bytes));
    while (count > 0) {
        const ULONG piece = count > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(count);
        if (!hasher.hash || BCryptHashData(hasher.hash.get(), data, piece, 0) != 0) {
            return false;
        }
        data += piece;
        count -= piece;
    }
    return true;
}

std::optional<Sha256Digest> finishSha256(Sha256Hasher& hasher) {
    Sha256Digest digest{};
    if (!hasher.hash ||
        BCryptFinishHash(hasher.hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0) != 0) {
        return std::nullopt;
    }
    return digest;
}

std::optional<Sha256Digest> sha256Of(std::string_view bytes) {
    Sha256Hasher hasher;
    if (!startSha256(hasher) || !addToSha256(hasher, bytes.data(), bytes.size())) {
        return std::nullopt;
    }
    return finishSha256(hasher);
}
