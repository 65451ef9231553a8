#include "net/route_decision.h"

#include "common/owned_handles.h"
#include "net/connection.h"
#include "net/deployment.h"

#include <memory>
#include <string>

namespace {

// A PAC fetch or a WPAD search that takes longer is abandoned: the run goes
// on with the fallback route instead of keeping the user waiting.
constexpr DWORD kProxyScriptBoundMs = 5000;
constexpr int kProxyScriptTimeoutMs = 5000;

// What a thread of its own asks WinHTTP, and, once it has ended, the answer:
// the proxy list, or DIRECT. Shared with the thread, which may outlive the
// wait for it.
struct ProxyQuery {
    WINHTTP_AUTOPROXY_OPTIONS options{};
    std::wstring scriptUrl;
    std::wstring serverUrl;
    std::optional<std::wstring> answer;
};

std::wstring takeGlobalText(LPWSTR text) {
    const OwnedGlobalMemory owner(text);
    return text != nullptr ? std::wstring(text) : std::wstring();
}

UserProxySettings readUserProxySettings() {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) {
        return {};
    }
    UserProxySettings settings;
    settings.autoDetect = config.fAutoDetect != FALSE;
    settings.autoConfigUrl = takeGlobalText(config.lpszAutoConfigUrl);
    settings.proxy = takeGlobalText(config.lpszProxy);
    settings.bypass = takeGlobalText(config.lpszProxyBypass);
    return settings;
}

DWORD WINAPI runProxyQuery(LPVOID parameter) {
    const std::unique_ptr<std::shared_ptr<ProxyQuery>> owner(static_cast<std::shared_ptr<ProxyQuery>*>(parameter));
    ProxyQuery& query = **owner;
    const OwnedInternetHandle session(
        WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        return 0;
    }
    WinHttpSetTimeouts(session.get(), kProxyScriptTimeoutMs, kProxyScriptTimeoutMs, kProxyScriptTimeoutMs,
                       kProxyScriptTimeoutMs);
    WINHTTP_PROXY_INFO info{};
    if (!WinHttpGetProxyForUrl(session.get(), query.serverUrl.c_str(), &query.options, &info)) {
        return 0;
    }
    const OwnedGlobalMemory bypass(info.lpszProxyBypass);
    const std::wstring proxy = takeGlobalText(info.lpszProxy);
    query.answer = info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY ? proxy : L"DIRECT";
    return 0;
}

// The answer of a PAC script (at scriptUrl) or of WPAD (no scriptUrl) for
// the update server; none when there is none within the bound.
std::optional<std::wstring> queryProxyInTime(DWORD flags, std::wstring scriptUrl) {
    const auto query = std::make_shared<ProxyQuery>();
    query->scriptUrl = std::move(scriptUrl);
    query->serverUrl = L"https://" + std::wstring(kUpdateServerHost) + L":" + std::to_wstring(kUpdateServerPort) + L"/";
    query->options.dwFlags = flags;
    query->options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    query->options.lpszAutoConfigUrl = query->scriptUrl.empty() ? nullptr : query->scriptUrl.c_str();
    // An intranet server may want the user's logon before it gives out the script.
    query->options.fAutoLogonIfChallenged = TRUE;
    auto* handedOver = new std::shared_ptr<ProxyQuery>(query);
    const OwnedKernelHandle thread(CreateThread(nullptr, 0, runProxyQuery, handedOver, 0, nullptr));
    if (!thread) {
        delete handedOver;
        return std::nullopt;
    }
    if (WaitForSingleObject(thread.get(), kProxyScriptBoundMs) != WAIT_OBJECT_0) {
        return std::nullopt;
    }
    return query->answer;
}

}  // namespace

NetworkRoute decideNetworkRoute() {
    const RoutePlan plan = planRoute(readUserProxySettings(), kUpdateServerHost, kUpdateServerPort);
    if (plan.pacUrl.empty()) {
        return plan.fallback;
    }
    const std::optional<std::wstring> answer = queryProxyInTime(WINHTTP_AUTOPROXY_CONFIG_URL, plan.pacUrl);
    const std::optional<NetworkRoute> route = answer ? routeFromProxyAnswer(*answer, RouteSource::Pac) : std::nullopt;
    return route.value_or(plan.fallback);
}

std::optional<NetworkRoute> discoverProxyRoute() {
    const std::optional<std::wstring> answer = queryProxyInTime(WINHTTP_AUTOPROXY_AUTO_DETECT, L"");
    const std::optional<NetworkRoute> route = answer ? routeFromProxyAnswer(*answer, RouteSource::Wpad) : std::nullopt;
    if (!route || route->kind != RouteKind::Proxy) {
        return std::nullopt;
    }
    return route;
}
