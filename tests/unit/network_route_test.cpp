#include "net/network_route.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

constexpr wchar_t kHost[] = L"updates.nirva.example";
constexpr INTERNET_PORT kPort = 443;

std::string shown(std::wstring_view text) {
    return testing::PrintToString(std::wstring(text));
}

struct ListCase {
    const wchar_t* list;
    const wchar_t* proxy;  // nullptr: no usable proxy
};

TEST(FirstUsableProxy, TakesTheHttpsEntryOrOneForEverySchemeAsHostAndPort) {
    const ListCase cases[] = {
        {L"proxy.office:8080", L"proxy.office:8080"},
        {L"http=web:80;https=secure:8443;ftp=files:21", L"secure:8443"},
        {L"HTTPS=Secure:3128", L"Secure:3128"},
        {L"ftp=files:21;https=secure:8443", L"secure:8443"},
        {L"  first:1 ;  second:2 ", L"first:1"},
        {L"first:1 second:2", L"first:1"},
        {L"http://proxy:3128/", L"proxy:3128"},
        {L"HTTP://proxy:3128", L"proxy:3128"},
        {L"proxy", L"proxy:80"},
        {L"10.0.0.1:3128", L"10.0.0.1:3128"},
        {L"socks=tor:9050;any:8080", L"any:8080"},
        {L"https=socks5://tor:9050;https=good:1", L"good:1"},
        // Only http= and ftp= entries: HTTPS goes without a proxy.
        {L"http=web:80;ftp=files:21", nullptr},
        {L"https://tls-to-proxy:443", nullptr},
        {L"socks://tor:9050", nullptr},
        {L"proxy:0", nullptr},
        {L"proxy:65536", nullptr},
        {L"proxy:80x", nullptr},
        {L"proxy:", nullptr},
        {L":8080", nullptr},
        {L"pr\u00f6xy:1", nullptr},
        {L"", nullptr},
        {L" ; ;", nullptr},
    };
    for (const ListCase& c : cases) {
        const std::optional<std::wstring> proxy = firstUsableProxy(c.list);
        if (c.proxy == nullptr) {
            EXPECT_EQ(proxy, std::nullopt) << shown(c.list);
        } else {
            EXPECT_EQ(proxy, std::optional<std::wstring>(c.proxy)) << shown(c.list);
        }
    }
}

struct BypassCase {
    const wchar_t* list;
    const wchar_t* host;
    bool names;
};

TEST(BypassListNames, MatchesWildcardsLocalNamesAndPorts) {
    const BypassCase cases[] = {
        {L"updates.nirva.example", kHost, true},
        {L"UPDATES.Nirva.Example", kHost, true},
        {L"*.nirva.example", kHost, true},
        {L"*.example", kHost, true},
        {L"updates.*", kHost, true},
        {L"*nirva*", kHost, true},
        {L"*", kHost, true},
        {L"other.example;*.nirva.example", kHost, true},
        {L"other.example, *.nirva.example", kHost, true},
        {L"other.example *.nirva.example", kHost, true},
        {L"https://updates.nirva.example", kHost, true},
        {L"updates.nirva.example:443", kHost, true},
        {L"*:443", kHost, true},
        {L"10.1.*", L"10.1.2.3", true},
        {L"<local>", L"intranet", true},
        {L"<LOCAL>", L"intranet", true},
        {L"<local>", kHost, false},
        {L"<local>", L"10.1.2.3", false},
        {L"*.nirva.example", L"nirva.example", false},
        {L"nirva.example", kHost, false},
        {L"updates.nirva.exampl", kHost, false},
        {L"updates.nirva.example.org", kHost, false},
        {L"updates.nirva.example:8443", kHost, false},
        {L"http://updates.nirva.example", kHost, false},
        {L"10.1.*", L"10.12.2.3", false},
        {L"", kHost, false},
        {L";;", kHost, false},
    };
    for (const BypassCase& c : cases) {
        EXPECT_EQ(bypassListNames(c.list, c.host, kPort), c.names) << shown(c.list) << " " << shown(c.host);
    }
}

const NetworkRoute kDirect{RouteKind::Direct, L"", RouteSource::Pac, false, false};

NetworkRoute proxyRoute(const wchar_t* proxy, RouteSource source) {
    return NetworkRoute{RouteKind::Proxy, proxy, source, false, false};
}

struct AnswerCase {
    const wchar_t* answer;
    std::optional<NetworkRoute> route;
};

TEST(RouteFromProxyAnswer, TakesTheFirstEntryWinHttpCanUse) {
    const AnswerCase cases[] = {
        {L"PROXY a:3128; DIRECT", proxyRoute(L"a:3128", RouteSource::Pac)},
        {L"DIRECT; PROXY a:3128", kDirect},
        {L"direct", kDirect},
        {L"PROXY a:3128;PROXY b:3128", proxyRoute(L"a:3128", RouteSource::Pac)},
        {L"proxy   a:3128", proxyRoute(L"a:3128", RouteSource::Pac)},
        {L"PROXY http://a:3128", proxyRoute(L"a:3128", RouteSource::Pac)},
        {L"HTTPS tls:443; SOCKS5 s:1080; SOCKS s:1080; PROXY p:8080", proxyRoute(L"p:8080", RouteSource::Pac)},
        {L"SOCKS s:1080; DIRECT", kDirect},
        // WinHTTP on Windows hands over the answer as a proxy list.
        {L"a:3128;b:3128", proxyRoute(L"a:3128", RouteSource::Pac)},
        {L"a:3128 b:3128", proxyRoute(L"a:3128", RouteSource::Pac)},
        {L"SOCKS s:1080", std::nullopt},
        {L"PROXY", std::nullopt},
        {L"", std::nullopt},
    };
    for (const AnswerCase& c : cases) {
        EXPECT_EQ(routeFromProxyAnswer(c.answer, RouteSource::Pac), c.route) << shown(c.answer);
    }
    EXPECT_EQ(routeFromProxyAnswer(L"PROXY w:80", RouteSource::Wpad), proxyRoute(L"w:80", RouteSource::Wpad));
}

struct PlanCase {
    const char* name;
    UserProxySettings settings;
    const wchar_t* pacUrl;
    NetworkRoute fallback;
};

TEST(PlanRoute, PacFirstThenTheManualProxyThenTheMachineDiscoveringOnlyWhenAutoDetectIsAlone) {
    const NetworkRoute machine{};
    const NetworkRoute discovering{RouteKind::MachineDefault, L"", RouteSource::Machine, false, true};
    const NetworkRoute manual = proxyRoute(L"p:8080", RouteSource::Manual);
    const NetworkRoute bypassed{RouteKind::Direct, L"", RouteSource::Manual, true, false};
    const NetworkRoute noHttpsEntry{RouteKind::Direct, L"", RouteSource::Manual, false, false};
    const PlanCase cases[] = {
        {"nothing set", {}, L"", machine},
        {"auto-detect alone", {true, L"", L"", L""}, L"", discovering},
        {"manual", {false, L"", L"p:8080", L""}, L"", manual},
        {"manual beats auto-detect", {true, L"", L"p:8080", L""}, L"", manual},
        {"manual, host bypassed", {false, L"", L"p:8080", L"<local>;*.nirva.example"}, L"", bypassed},
        {"manual, other host bypassed", {false, L"", L"p:8080", L"*.other.example"}, L"", manual},
        {"manual without https entry", {false, L"", L"http=p:8080", L""}, L"", noHttpsEntry},
        {"bypass list alone", {false, L"", L"", L"*"}, L"", machine},
        {"PAC", {false, L"http://wpad/p.pac", L"", L""}, L"http://wpad/p.pac", machine},
        {"PAC and auto-detect", {true, L"http://wpad/p.pac", L"", L""}, L"http://wpad/p.pac", machine},
        {"PAC then manual", {true, L"http://wpad/p.pac", L"p:8080", L""}, L"http://wpad/p.pac", manual},
    };
    for (const PlanCase& c : cases) {
        const RoutePlan plan = planRoute(c.settings, kHost, kPort);
        EXPECT_EQ(plan.pacUrl, c.pacUrl) << c.name;
        EXPECT_EQ(plan.fallback, c.fallback) << c.name;
    }
}

TEST(ShouldDiscoverProxy, OnlyWhenAutoDetectIsAloneAndTheServerCouldNotBeReached) {
    const NetworkRoute discovering{RouteKind::MachineDefault, L"", RouteSource::Machine, false, true};
    for (const DWORD error : {ERROR_WINHTTP_NAME_NOT_RESOLVED, ERROR_WINHTTP_CANNOT_CONNECT, ERROR_WINHTTP_TIMEOUT}) {
        EXPECT_TRUE(shouldDiscoverProxy(discovering, error)) << error;
        EXPECT_FALSE(shouldDiscoverProxy(NetworkRoute{}, error)) << error;
    }
    // The server answered: a pin, a status or a broken link is not the network's doing.
    for (const DWORD error : {DWORD{0}, DWORD{ERROR_WINHTTP_SECURE_FAILURE}, DWORD{ERROR_WINHTTP_CONNECTION_ERROR},
                              DWORD{ERROR_WINHTTP_INVALID_SERVER_RESPONSE}}) {
        EXPECT_FALSE(shouldDiscoverProxy(discovering, error)) << error;
    }
}

TEST(DescribeRoute, NamesTheProxyAndWhereTheRouteCameFromOnOneLine) {
    const NetworkRoute routes[] = {
        {}, {RouteKind::MachineDefault, L"", RouteSource::Machine, false, true},
        {RouteKind::Direct, L"", RouteSource::Manual, true, false}, kDirect,
        proxyRoute(L"p:8080", RouteSource::Manual), proxyRoute(L"p:8080", RouteSource::Wpad),
    };
    std::vector<std::wstring> seen;
    for (const NetworkRoute& route : routes) {
        const std::wstring line = describeRoute(route);
        EXPECT_EQ(line.find_first_of(L"\r\n"), std::wstring::npos) << shown(line);
        EXPECT_EQ(std::count(seen.begin(), seen.end(), line), 0) << "two routes read alike: " << shown(line);
        if (route.kind == RouteKind::Proxy) {
            EXPECT_NE(line.find(route.proxy), std::wstring::npos) << shown(line);
        }
        seen.push_back(line);
    }
}

}  // namespace
