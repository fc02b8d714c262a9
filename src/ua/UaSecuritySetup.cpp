#include "ua/UaSecuritySetup.h"
#include "security/UserStore.h"

#include <algorithm>

namespace Ua {

namespace {

// "0" or "1"; anything else is reported and the default holds.
bool readSwitch(const QString &key, const QString &text, bool byDefault, QStringList &problems)
{
    const QString value = text.trimmed();
    if (value == QLatin1String("0") || value == QLatin1String("1"))
        return value == QLatin1String("1");
    problems << QStringLiteral("%1: \"%2\" is neither 0 nor 1; using %3").arg(key, text).arg(int(byDefault));
    return byDefault;
}

std::vector<const Security::SecurityPolicy *> readPolicies(const QString &text, QStringList &problems)
{
    std::vector<const Security::SecurityPolicy *> policies;
    for (const QString &part : text.split(QLatin1Char(','))) {
        const QString name = part.trimmed();
        if (name.isEmpty())
            continue;
        const Security::SecurityPolicy *policy = Security::findSecurityPolicy(name);
        if (!policy)
            problems << QStringLiteral("UaSecurityPolicies: unknown security policy \"%1\" ignored").arg(name);
        else if (std::find(policies.begin(), policies.end(), policy) == policies.end())
            policies.push_back(policy);
    }
    if (policies.empty()) {
        problems << QStringLiteral("UaSecurityPolicies: \"%1\" names no security policy; using all of them").arg(text);
        for (const Security::SecurityPolicy &policy : Security::securityPolicies())
            policies.push_back(&policy);
    }
    return policies;
}

} // namespace

QStringList configureSecurity(ServerConfig &config, const SecuritySettings &settings)
{
    QStringList problems;
    std::vector<const Security::SecurityPolicy *> policies = readPolicies(settings.policies, problems);
    const bool anonymous = readSwitch(QStringLiteral("UaAnonymous"), settings.anonymous, true, problems);
    const bool autoTrust = readSwitch(QStringLiteral("UaAutoTrust"), settings.autoTrust, false, problems);

    std::shared_ptr<Security::CertificateStore> store;
    const bool anySecure =
        std::any_of(policies.begin(), policies.end(), [](const Security::SecurityPolicy *p) { return p->secure; });
    if (anySecure) {
        store = std::make_shared<Security::CertificateStore>(settings.applicationFolder + QStringLiteral("/pki"));
        if (const QString failure = store->open(settings.identity); !failure.isEmpty()) {
            QStringList dropped;
            for (const Security::SecurityPolicy *p : policies)
                if (p->secure)
                    dropped << p->name;
            std::erase_if(policies, [](const Security::SecurityPolicy *p) { return p->secure; });
            problems << failure
                     << QStringLiteral("OPC UA security policies dropped: %1; served: %2")
                            .arg(dropped.join(QStringLiteral(", ")), policies.empty()
                                                                         ? QStringLiteral("none, no client can connect")
                                                                         : QStringLiteral("None"));
            store.reset();
        } else {
            store->setAutoTrust(autoTrust);
        }
    }

    config.security.clear();
    const Security::SecurityPolicy *passwordPolicy = nullptr;
    for (const Security::SecurityPolicy *p : policies) {
        if (!p->secure) {
            config.security.push_back({std::make_shared<SecurityPolicyNone>(), SecurityMode::None});
            continue;
        }
        auto policy = std::make_shared<CryptoPolicy>(*p, store);
        config.security.push_back({policy, SecurityMode::Sign});
        config.security.push_back({policy, SecurityMode::SignAndEncrypt});
    }
    // Passwords on endpoints without security: the strongest policy served.
    for (const Security::SecurityPolicy &p : Security::securityPolicies())
        if (p.secure && !passwordPolicy && std::find(policies.begin(), policies.end(), &p) != policies.end())
            passwordPolicy = &p;
    std::shared_ptr<Security::UserStore> users;
    if (store)
        users = std::make_shared<Security::UserStore>(Security::usersFilePath(settings.applicationFolder));
    config.accessControl = std::make_shared<UserAccess>(anonymous, users, store, passwordPolicy);
    return problems;
}

} // namespace Ua
