#include "net/network_route.h"

#include <algorithm>
#include <vector>

namespace {

// The pieces of a list between any of the separators, empty ones dropped.
std::vector<std::wstring_view> splitList(std::wstring_view list, std::wstring_view separators) {
    std::vector<std::wstring_view> pieces;
    size_t start = 0;
    while (start < list.size()) {
        const size_t end = std::min(list.find_first_of(separators, start), list.size());
        if (end > start) {
            pieces.push_back(list.substr(start, end - start));
        }
        start = end + 1;
    }
    return pieces;
}

// Host names and the keywords of these lists are ASCII.
wchar_t asciiLower(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool equalsNoCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

bool startsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
    return text.size() >= prefix.size() && equalsNoCase(text.substr(0, prefix.size()), prefix);
}

// '*' stands for any run of characters, itself included none; case is ignored.
bool wildcardMatches(std::wstring_view pattern, std::wstring_view text) {
    size_t p = 0, t = 0, star = std::wstring_view::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == L'*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && asciiLower(pattern[p]) == asciiLower(text[t])) {
            ++p;
            ++t;
        } else if (star != std::wstring_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') {
        ++p;
    }
    return p == pattern.size();
}

bool isHostCharacter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'.' ||
           c == L'-' || c == L'_';
}

// A TCP port as written, 1 to 65535; 0 when it is not one.
unsigned portNumber(std::wstring_view digits) {
    if (digits.empty() || digits.size() > 5) {
        return 0;
    }
    unsigned value = 0;
    for (const wchar_t c : digits) {
        if (c < L'0' || c > L'9') {
            return 0;
        }
        value = value * 10 + static_cast<unsigned>(c - L'0');
    }
    return value <= 65535 ? value : 0;
}

// One proxy as WinHTTP takes it, host:port; none for what is not one.
std::optional<std::wstring> normalizedProxy(std::wstring_view entry) {
    if (startsWithNoCase(entry, L"http://")) {
        entry.remove_prefix(7);
    } else if (entry.find(L"://") != std::wstring_view::npos) {
        return std::nullopt;
    }
    while (!entry.empty() && entry.back() == L'/') {
        entry.remove_suffix(1);
    }
    const size_t colon = entry.find(L':');
    const std::wstring_view host = entry.substr(0, colon);
    const unsigned port = colon == std::wstring_view::npos ? 80 : portNumber(entry.substr(colon + 1));
    bool validHost = !host.empty();
    for (const wchar_t c : host) {
        validHost = validHost && isHostCharacter(c);
    }
    if (!validHost || port == 0) {
        return std::nullopt;
    }
    return std::wstring(host) + L":" + std::to_wstring(port);
}

// An entry for another scheme (http://...) never matches a host name.
bool bypassEntryMatches(std::wstring_view entry, std::wstring_view host, const std::wstring& hostAndPort) {
    if (equalsNoCase(entry, L"<local>")) {
        return host.find(L'.') == std::wstring_view::npos && host.find(L':') == std::wstring_view::npos;
    }
    if (startsWithNoCase(entry, L"https://")) {
        entry.remove_prefix(8);
    }
    while (!entry.empty() && entry.back() == L'/') {
        entry.remove_suffix(1);
    }
    const bool withPort = entry.find(L':') != std::wstring_view::npos;
    return wildcardMatches(entry, withPort ? std::wstring_view(hostAndPort) : host);
}

const wchar_t* sourceName(RouteSource source) {
    switch (source) {
        case RouteSource::Machine: return L"machine";
        case RouteSource::Manual: return L"manual";
        case RouteSource::Pac: return L"PAC";
        case RouteSource::Wpad: return L"WPAD";
    }
    return L"unknown";
}

NetworkRoute manualRoute(const UserProxySettings& settings, std::wstring_view host, INTERNET_PORT port) {
    if (bypassListNames(settings.bypass, host, port)) {
        return NetworkRoute{RouteKind::Direct, {}, RouteSource::Manual, true, false};
    }
    // A per-scheme list without an https= entry sends HTTPS directly.
    const std::optional<std::wstring> proxy = firstUsableProxy(settings.proxy);
    if (!proxy) {
        return NetworkRoute{RouteKind::Direct, {}, RouteSource::Manual, false, false};
    }
    return NetworkRoute{RouteKind::Proxy, *proxy, RouteSource::Manual, false, false};
}

}  // namespace

std::wstring describeRoute(const NetworkRoute& route) {
    switch (route.kind) {
        case RouteKind::MachineDefault:
            return route.discoverOnFailure ? L"machine default, WPAD if it cannot connect" : L"machine default";
        case RouteKind::Direct:
            return std::wstring(L"direct (") + sourceName(route.source) + (route.bypassed ? L", bypass list)" : L")");
        case RouteKind::Proxy:
            return L"proxy " + route.proxy + L" (" + sourceName(route.source) + L")";
    }
    return L"unknown";
}

RoutePlan planRoute(const UserProxySettings& settings, std::wstring_view host, INTERNET_PORT port) {
    RoutePlan plan{settings.autoConfigUrl, {}};
    if (!settings.proxy.empty()) {
        plan.fallback = manualRoute(settings, host, port);
    } else if (settings.autoDetect && settings.autoConfigUrl.empty()) {
        plan.fallback.discoverOnFailure = true;
    }
    return plan;
}

std::optional<std::wstring> firstUsableProxy(std::wstring_view list) {
    std::optional<std::wstring> secure;
    std::optional<std::wstring> anyScheme;
    for (const std::wstring_view entry : splitList(list, L"; \t\r\n")) {
        const size_t equals = entry.find(L'=');
        if (equals == std::wstring_view::npos) {
            anyScheme = anyScheme ? anyScheme : normalizedProxy(entry);
        } else if (!secure && equalsNoCase(entry.substr(0, equals), L"https")) {
            secure = normalizedProxy(entry.substr(equals + 1));
        }
    }
    return secure ? secure : anyScheme;
}

bool bypassListNames(std::wstring_view list, std::wstring_view host, INTERNET_PORT port) {
    const std::wstring hostAndPort = std::wstring(host) + L":" + std::to_wstring(port);
    for (const std::wstring_view entry : splitList(list, L"; ,\t\r\n")) {
        if (bypassEntryMatches(entry, host, hostAndPort)) {
            return true;
        }
    }
    return false;
}

std::optional<NetworkRoute> routeFromProxyAnswer(std::wstring_view answer, RouteSource source) {
    const std::vector<std::wstring_view> tokens = splitList(answer, L"; \t\r\n");
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (equalsNoCase(tokens[i], L"DIRECT")) {
            return NetworkRoute{RouteKind::Direct, {}, source, false, false};
        }
        // "PROXY host:port": the next token is read as the proxy. TLS to the
        // proxy and SOCKS are skipped with their proxy: WinHTTP has neither.
        if (equalsNoCase(tokens[i], L"PROXY")) {
            continue;
        }
        if (equalsNoCase(tokens[i], L"HTTPS") || startsWithNoCase(tokens[i], L"SOCKS")) {
            ++i;
        } else if (const std::optional<std::wstring> proxy = normalizedProxy(tokens[i])) {
            return NetworkRoute{RouteKind::Proxy, *proxy, source, false, false};
        }
    }
    return std::nullopt;
}

bool shouldDiscoverProxy(const NetworkRoute& route, DWORD winHttpError) {
    return route.discoverOnFailure &&
           (winHttpError == ERROR_WINHTTP_NAME_NOT_RESOLVED || winHttpError == ERROR_WINHTTP_CANNOT_CONNECT ||
            winHttpError == ERROR_WINHTTP_TIMEOUT);
}
