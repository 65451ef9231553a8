#include "net/network_route.h"

#include <gtest/gtest.h>

namespace {

constexpr wchar_t kHost[] = L"updates.nirva.example";

std::string shown(std::wstring_view text) {
    return testing::PrintToString(std::wstring(text));
}

NetworkRoute route(RouteKind kind, const wchar_t* proxy, RouteSource source, bool bypassed = false,
                   bool discoverOnFailure = false) {
    return NetworkRoute{kind, proxy, source, bypassed, discoverOnFailure};
}

TEST(FirstUsableProxy, TakesTheHttpsEntryOrOneForEverySchemeAsHostAndPort) {
    const std::pair<const wchar_t*, std::optional<std::wstring>> cases[] = {
        {L"proxy.office:8080", L"proxy.office:8080"},
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
        {L"proxy:80x", std::nullopt},
        {L":8080", std::nullopt},
        {L"pr\u00f6xy:1", std::nullopt},
        {L"", std::nullopt},
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
        {L"other.example *nirva*", kHost, true},
        {L"https://updates.nirva.example", kHost, true},
        {L"updates.nirva.example:443", kHost, true},
        {L"10.1.*", L"10.1.2.3", true},
        {L"<local>", L"intranet", true},
        {L"<local>", kHost, false},
        {L"*.nirva.example", L"nirva.example", false},
        {L"nirva.example", kHost, false},
        {L"updates.nirva.example:8443", kHost, false},
        {L"10.1.*", L"10.12.2.3", false},
    };
    for (const auto& [list, host, names] : cases) {
        EXPECT_EQ(bypassListNames(list, host, 443), names) << shown(list) << " " << shown(host);
    }
}

TEST(RouteFromProxyAnswer, TakesTheFirstEntryWinHttpCanUse) {
    const NetworkRoute direct = route(RouteKind::Direct, L"", RouteSource::Pac);
    const NetworkRoute proxyA = route(RouteKind::Proxy, L"a:3128", RouteSource::Pac);
    const std::pair<const wchar_t*, std::optional<NetworkRoute>> cases[] = {
        {L"PROXY a:3128; DIRECT", proxyA},
        {L"DIRECT; PROXY a:3128", direct},
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
    const NetworkRoute machine{};
    const NetworkRoute discovering = route(RouteKind::MachineDefault, L"", RouteSource::Machine, false, true);
    const NetworkRoute manual = route(RouteKind::Proxy, L"p:8080", RouteSource::Manual);
    const NetworkRoute bypassed = route(RouteKind::Direct, L"", RouteSource::Manual, true);
    const std::tuple<const char*, UserProxySettings, NetworkRoute> cases[] = {
        {"nothing set", {}, machine},
        {"auto-detect alone", {true, L"", L"", L""}, discovering},
        {"manual beats auto-detect", {true, L"", L"p:8080", L"*.other.example"}, manual},
        {"bypassed", {false, L"", L"p:8080", L"<local>;*.nirva.example"}, bypassed},
        {"no https entry", {false, L"", L"http=p:8080", L""}, route(RouteKind::Direct, L"", RouteSource::Manual)},
        {"PAC and auto-detect", {true, L"http://wpad/p.pac", L"", L""}, machine},
        {"PAC, then manual", {true, L"http://wpad/p.pac", L"p:8080", L""}, manual},
    };
    for (const auto& [name, settings, fallback] : cases) {
        const RoutePlan plan = planRoute(settings, kHost, 443);
        EXPECT_EQ(plan.pacUrl, settings.autoConfigUrl) << name;
        EXPECT_EQ(plan.fallback, fallback) << name;
    }
}

TEST(ShouldDiscoverProxy, OnlyWhenAutoDetectIsAloneAndTheServerCouldNotBeReached) {
    const NetworkRoute discovering = route(RouteKind::MachineDefault, L"", RouteSource::Machine, false, true);
    for (const DWORD error : {ERROR_WINHTTP_NAME_NOT_RESOLVED, ERROR_WINHTTP_CANNOT_CONNECT, ERROR_WINHTTP_TIMEOUT}) {
        EXPECT_TRUE(shouldDiscoverProxy(discovering, error)) << error;
        EXPECT_FALSE(shouldDiscoverProxy(NetworkRoute{}, error)) << error;
    }
    // The server answered: a key, a status or a broken link is not the network's doing.
    for (const DWORD error : {DWORD{ERROR_WINHTTP_SECURE_FAILURE}, DWORD{ERROR_WINHTTP_CONNECTION_ERROR}, DWORD{0}}) {
        EXPECT_FALSE(shouldDiscoverProxy(discovering, error)) << error;
    }
}

}  // namespace
