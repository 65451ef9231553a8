#include "net/release_signature.h"

#include "common/owned_handles.h"
#include "common/sha256.h"
#include "net/release_message.h"

#include <cstring>
#include <vector>

namespace {

bool succeeded(NTSTATUS status) {
    return status >= 0;
}

bool verifyWithKey(BCRYPT_ALG_HANDLE algorithm, const ReleasePublicKey& publicKey, Sha256Digest digest,
                   ReleaseSignature signature) {
    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + publicKey.size());
    const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, static_cast<ULONG>(publicKey.size() / 2)};
    std::memcpy(blob.data(), &header, sizeof(header));
    std::memcpy(blob.data() + sizeof(header), publicKey.data(), publicKey.size());
    BCRYPT_KEY_HANDLE rawKey = nullptr;
    if (!succeeded(BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &rawKey, blob.data(),
                                       static_cast<ULONG>(blob.size()), 0))) {
        return false;
    }
    const OwnedKey key(rawKey);
    return BCryptVerifySignature(key.get(), nullptr, digest.data(), static_cast<ULONG>(digest.size()),
                                 signature.data(), static_cast<ULONG>(signature.size()), 0) == 0;
}

}  // namespace

bool verifyReleaseSignature(const ManifestRecord& manifest, std::span<const ReleasePublicKey> keys) {
    const std::optional<ReleaseSignature> signature = decodeReleaseSignature(manifest.signature);
    const std::optional<Sha256Digest> digest = sha256Of(releaseMessage(manifest));
    if (!signature || !digest) {
        return false;
    }
    BCRYPT_ALG_HANDLE rawAlgorithm = nullptr;
    if (!succeeded(BCryptOpenAlgorithmProvider(&rawAlgorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
        return false;
    }
    const OwnedAlgorithmProvider algorithm(rawAlgorithm);
    for (const ReleasePublicKey& key : keys) {
        if (verifyWithKey(algorithm.get(), key, *digest, *signature)) {
            return true;
        }
    }
    return false;
}
