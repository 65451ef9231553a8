#include "update/offer.h"

#include <gtest/gtest.h>

namespace {

const std::wstring kDigest = L"00112233445566778899aabbccddeeff00112233445566778899AABBCCDDEEFF";

TEST(JudgeManifest, BelievesOnlyWhatTheBuildsKeysVouchForAndRefusesAnUnreadableDigest) {
    using enum FailureKind;
    const struct {
        const char* what;
        std::wstring sha256;
        bool releaseKeysBuilt;
        bool signatureVerified;
        FailureKind checkFailure;  // None: there is an offer
        bool digestParsed;
        FailureKind refusal;
    } cases[] = {
        {"unsigned build, no digest", L"", false, false, None, false, None},
        {"unsigned build, digest", kDigest, false, false, None, true, None},
        {"unsigned build ignores a signature", kDigest, false, true, None, true, None},
        {"63 digits", kDigest.substr(1), false, false, None, false, DigestFormat},
        {"a stray letter", L"g" + kDigest.substr(1), false, false, None, false, DigestFormat},
        {"signed and verified", kDigest, true, true, None, true, None},
        {"signed release without a digest", L"", true, true, None, false, DigestFormat},
        {"signed release with an unreadable digest", kDigest + L"0", true, true, None, false, DigestFormat},
        {"signature that does not verify", kDigest, true, false, Signature, false, None},
        {"no signature and no digest", L"", true, false, Signature, false, None},
    };
    for (const auto& c : cases) {
        ManifestRecord manifest;
        manifest.sha256 = c.sha256;
        const CheckResult result = judgeManifest(L"1.0.0.0", manifest, c.releaseKeysBuilt, c.signatureVerified);
        EXPECT_EQ(result.failure.kind, c.checkFailure) << c.what;
        EXPECT_EQ(result.failure.step, c.checkFailure == None ? FailureStep::None : FailureStep::Check) << c.what;
        ASSERT_EQ(result.offer.has_value(), c.checkFailure == None) << c.what;
        if (result.offer) {
            EXPECT_EQ(result.offer->digest.has_value(), c.digestParsed) << c.what;
            EXPECT_EQ(result.offer->refusal.kind, c.refusal) << c.what;
            EXPECT_EQ(static_cast<bool>(result.offer->refusal), c.refusal != None) << c.what;
            EXPECT_EQ(result.offer->manifest.sha256, c.sha256) << c.what << ": the manifest as read";
        }
    }
}

TEST(JudgeManifest, OffersOnlyAStrictlyNewerRelease) {
    for (const auto& [offered, newer] : {std::pair{L"1.2.4.0", true}, {L"1.2.3.4", false}, {L"1.2.3.3", false}}) {
        ManifestRecord manifest;
        manifest.version = offered;
        const CheckResult result = judgeManifest(L"1.2.3.4", manifest, false, false);
        ASSERT_TRUE(result.offer.has_value());
        EXPECT_EQ(result.offer->newer, newer) << testing::PrintToString(std::wstring(offered));
    }
}

}  // namespace
