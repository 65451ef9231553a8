#pragma once

// How the updater reaches its server: decided once per run, before the
// check, and carried as this value to the check, the package download, the
// rebuild's range requests and whatever reports on the run. Pure rules only;
// reading the user's settings and evaluating a PAC script is the job of
// net/route_decision.

#include <windows.h>
#include <winhttp.h>

#include <optional>
#include <string>
#include <string_view>

enum class RouteKind {
    // WinHTTP's machine-wide setting (netsh winhttp), as before there was a
    // decision: usually no proxy at all.
    MachineDefault,
    Direct,
    // The named proxy, host:port, for a CONNECT tunnel to the server.
    Proxy,
};

// Where the route came from.
enum class RouteSource { Machine, Manual, Pac, Wpad };

struct NetworkRoute {
    RouteKind kind = RouteKind::MachineDefault;
    std::wstring proxy;
    RouteSource source = RouteSource::Machine;
    // The user's bypass list named the server, so no proxy is used.
    bool bypassed = false;
    // "Automatically detect settings" is the user's only setting: WPAD is
    // asked only after the machine's route could not resolve or connect,
    // since discovery costs seconds on every network that has none.
    bool discoverOnFailure = false;

    friend bool operator==(const NetworkRoute&, const NetworkRoute&) = default;
};

// One line for a log: the kind, the proxy, where it came from.
std::wstring describeRoute(const NetworkRoute& route);

// The user's Internet Options as WinHTTP reports them; empty text is unset.
struct UserProxySettings {
    bool autoDetect = false;
    std::wstring autoConfigUrl;
    std::wstring proxy;
    std::wstring bypass;
};

// What to do with the settings: evaluate the PAC script at pacUrl when there
// is one and take its answer, or else (no PAC URL, or a script that cannot be
// fetched or gives no usable answer) the fallback: the manual proxy and its
// bypass list, then the machine's route.
struct RoutePlan {
    std::wstring pacUrl;
    NetworkRoute fallback;
};
RoutePlan planRoute(const UserProxySettings& settings, std::wstring_view host, INTERNET_PORT port);

// The first usable proxy of a proxy list ("a:8080", "http=a:80;https=b:443",
// "http://a:3128/"), as host:port: the https= entry of a per-scheme list,
// else one that names no scheme; port 80 when none is given. Proxies that
// WinHTTP cannot speak to (SOCKS, TLS to the proxy) are skipped.
std::optional<std::wstring> firstUsableProxy(std::wstring_view list);

// Whether a bypass list ("<local>;*.example.com;10.*") names the server:
// entries are wildcard patterns over the host, or host:port when they give a
// port; <local> names every host without a dot.
bool bypassListNames(std::wstring_view list, std::wstring_view host, INTERNET_PORT port);

// The route a PAC answer gives ("PROXY a:3128; DIRECT", or the host:port
// list WinHTTP makes of it): its first usable entry. None when no entry is
// usable.
std::optional<NetworkRoute> routeFromProxyAnswer(std::wstring_view answer, RouteSource source);

// Whether a request that failed with this WinHTTP error should make the run
// discover a proxy (WPAD) and ask again: only a failure to resolve or
// connect, on a route that allows it.
bool shouldDiscoverProxy(const NetworkRoute& route, DWORD winHttpError);
