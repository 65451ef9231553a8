#include "net/network_route.h"

#include <gtest/gtest.h>

namespace {

constexpr wchar_t kHost[] = L"updates.nirva.example";
const NetworkRoute kDiscovering{RouteKind::MachineDefault, {}, RouteSource::Machine, false, true};

std::string shown(std::wstring_view text) {
    return testing::PrintToString(std::wstring(text));
}

TEST(FirstUsableProxy, TakesTheHttpsEntryOrOneForEverySchemeAsHostAndPort) {
    const std::pair<const wchar_t*, std::optional<std::wstring>> cases[] = {
        {L"http=web:80;HTTPS=secure:8443;ftp=files:21", L"secure:8443"},
        {L"any:8080;https=secure:8443", L"secure:8443"},
        {L"first:1 second:2", L"first:1"},
        {L"HTTP://proxy:3128/", L"proxy:3128"},
        {L"proxy", L"proxy:80"},
        {L"https=socks5://tor:9050;https=good:1", L"good:1"},
        // Only http= and ftp= entries: HTTPS goes without a proxy.
        {L"http=web:80;ftp=files:21", std::nullopt},
        {L"https://tls-to-proxy:443", std::nullopt},
        {L"proxy:65536", std::nullopt},
        {L"pr\u00f6xy:1", std::nullopt},
    };
    for (const auto& [list, proxy] : cases) {
        EXPECT_EQ(firstUsableProxy(list), proxy) << shown(list);
    }
}

TEST(BypassListNames, MatchesWildcardsLocalNamesAndPorts) {
    const std::tuple<const wchar_t*, const wchar_t*, bool> cases[] = {
        {L"UPDATES.Nirva.Example", kHost, true},
        {L"other.example;*.nirva.example", kHost, true},
        {L"other.example, updates.*", kHost, true},
        {L"https://updates.nirva.example", kHost, true},
        {L"updates.nirva.example:443", kHost, true},
        {L"<local>", L"intranet", true},
        {L"<local>", kHost, false},
        {L"*.nirva.example", L"nirva.example", false},
        {L"updates.nirva.example:8443", kHost, false},
        {L"10.1.*", L"10.12.2.3", false},
    };
    for (const auto& [list, host, names] : cases) {
        EXPECT_EQ(bypassListNames(list, host, 443), names) << shown(list) << " " << shown(host);
    }
}

TEST(RouteFromProxyAnswer, TakesTheFirstEntryWinHttpCanUse) {
    const NetworkRoute proxyA{RouteKind::Proxy, L"a:3128", RouteSource::Pac};
    const std::pair<const wchar_t*, std::optional<NetworkRoute>> cases[] = {
        {L"DIRECT; PROXY a:3128", NetworkRoute{RouteKind::Direct, {}, RouteSource::Pac}},
        {L"proxy   http://a:3128;PROXY b:3128", proxyA},
        {L"HTTPS tls:443; SOCKS5 s:1080; SOCKS s:1080; PROXY a:3128", proxyA},
        // WinHTTP on Windows hands the answer over as a proxy list.
        {L"a:3128;b:3128", proxyA},
        {L"SOCKS s:1080", std::nullopt},
    };
    for (const auto& [answer, expected] : cases) {
        EXPECT_EQ(routeFromProxyAnswer(answer, RouteSource::Pac), expected) << shown(answer);
    }
}

TEST(PlanRoute, PacFirstThenTheManualProxyThenTheMachineDiscoveringOnlyWhenAutoDetectIsAlone) {
    const NetworkRoute manual{RouteKind::Proxy, L"p:8080", RouteSource::Manual};
    const std::tuple<const char*, UserProxySettings, NetworkRoute> cases[] = {
        {"auto-detect alone", {true, L"", L"", L""}, kDiscovering},
        {"manual beats auto-detect", {true, L"", L"p:8080", L"*.other.example"}, manual},
        {"no https entry", {false, L"", L"http=p:8080", L""}, {RouteKind::Direct, {}, RouteSource::Manual}},
        {"PAC and auto-detect", {true, L"http://wpad/p.pac", L"", L""}, {}},
        {"PAC, then manual", {true, L"http://wpad/p.pac", L"p:8080", L""}, manual},
    };
    for (const auto& [name, settings, fallback] : cases) {
        EXPECT_EQ(planRoute(settings, kHost, 443).fallback, fallback) << name;
    }
}

TEST(ShouldDiscoverProxy, OnlyWhenAutoDetectIsAloneAndTheServerCouldNotBeReached) {
    // A key, a status or a broken link is the server's answer, not the network's doing.
    const std::pair<DWORD, bool> cases[] = {{ERROR_WINHTTP_NAME_NOT_RESOLVED, true}, {ERROR_WINHTTP_TIMEOUT, true},
                                            {ERROR_WINHTTP_SECURE_FAILURE, false}, {ERROR_WINHTTP_CONNECTION_ERROR, false}};
    for (const auto& [error, discover] : cases) {
        EXPECT_EQ(shouldDiscoverProxy(kDiscovering, error), discover) << error;
        EXPECT_FALSE(shouldDiscoverProxy(NetworkRoute{}, error)) << error;
    }
}

}  // namespace
