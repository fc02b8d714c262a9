// The secure side of the server: chunk protection per policy and mode, the client
// certificate check, identity tokens and their status codes, delayed refusals, and
// the security settings.
#include "UaFixture.h"
#include "security/ChunkSecurity.h"
#include "security/UserStore.h"
#include "ua/UaSecuritySetup.h"

#include <QTemporaryDir>
#include <QtEndian>

#include <sys/stat.h>

using namespace Ua;

namespace {

// A PKI folder with our certificate, and a client with its own key and certificate,
// made once: RSA keys take a while.
struct Pki {
    QTemporaryDir dir;
    std::shared_ptr<Security::CertificateStore> store;
    Security::RsaKey clientKey = Security::RsaKey::generate(2048);
    Security::Certificate clientCert;

    Pki()
    {
        store = std::make_shared<Security::CertificateStore>(dir.path() + "/pki");
        Security::ApplicationIdentity identity;
        identity.applicationUri = "urn:testhost:QUARLEN.KV7.1";
        identity.applicationName = "OPC-KV7";
        identity.hostNames = {"testhost"};
        EXPECT_EQ(store->open(identity), QString());
        clientCert = UaTestPeer::clientCertificate("client", clientKey);
    }
    AsymmetricHeader header(const Security::SecurityPolicy &policy) const
    {
        return {policy.uri, clientCert.der(), store->ownCertificate().thumbprint()};
    }
    static Pki &get()
    {
        static Pki pki;
        return pki;
    }
};

const std::vector<std::pair<const char *, SecurityMode>> PolicyModes = {
    {"Basic256Sha256", SecurityMode::Sign},        {"Basic256Sha256", SecurityMode::SignAndEncrypt},
    {"Aes128_Sha256_RsaOaep", SecurityMode::Sign}, {"Aes128_Sha256_RsaOaep", SecurityMode::SignAndEncrypt},
    {"Aes256_Sha256_RsaPss", SecurityMode::Sign},  {"Aes256_Sha256_RsaPss", SecurityMode::SignAndEncrypt},
};

} // namespace

TEST(UaSecurity, ClientCertificatesAreCheckedAndOnlyActionableRefusalsPassThrough)
{
    Pki &pki = Pki::get();
    const Security::SecurityPolicy &policy = *Security::findSecurityPolicy(u"Basic256Sha256");
    const CryptoPolicy server(policy, pki.store);
    QString why;
    AsymmetricHeader wrongReceiver = pki.header(policy);
    wrongReceiver.receiverThumbprint[0] = char(wrongReceiver.receiverThumbprint[0] ^ 1);
    EXPECT_EQ(server.acceptPeer(wrongReceiver, why), Status::BadCertificateInvalid);
    AsymmetricHeader garbage = pki.header(policy);
    garbage.senderCertificate = "not a certificate";
    EXPECT_EQ(server.acceptPeer(garbage, why), Status::BadSecurityChecksFailed);

    AsymmetricHeader stranger = pki.header(policy);
    stranger.senderCertificate = UaTestPeer::clientCertificate("stranger", pki.clientKey).der();
    EXPECT_EQ(server.acceptPeer(stranger, why), Status::BadSecurityChecksFailed);
    EXPECT_TRUE(why.contains("BadCertificateUntrusted")) << why.toStdString();

    for (const StatusCode passes : {Status::BadCertificateTimeInvalid, Status::BadCertificateUseNotAllowed,
                                    Status::BadCertificateRevocationUnknown, Status::BadCertificateUriInvalid})
        EXPECT_EQ(certificateRefusal(passes), passes);
    for (const StatusCode hidden :
         {Status::BadCertificateUntrusted, Status::BadCertificateRevoked, Status::BadCertificateIssuerRevocationUnknown,
          Status::BadCertificateChainIncomplete})
        EXPECT_EQ(certificateRefusal(hidden), Status::BadSecurityChecksFailed);
}

namespace {

// A token as it arrives: its type and encoded body.
ExtensionObject raw(std::uint32_t typeId, const QByteArray &body)
{
    return {NodeId(0, typeId), ExtensionObject::Encoding::ByteString, body, {}, {}};
}
template <class T> ExtensionObject received(const T &token)
{
    QByteArray body;
    Encoder e(body);
    encodeStructure(e, T::desc(), &token);
    return raw(T::binaryEncodingId, body);
}

// A UserName token as a client builds it: the password and the server nonce,
// encrypted with our public key by the policy's algorithm.
const QByteArray Nonce(32, 'n');
ExtensionObject userNameToken(const QString &name = "operator", const QByteArray &password = "secret",
                              const QByteArray &nonce = Nonce, const char *policyName = "Basic256Sha256",
                              const QString &policyId = "username")
{
    const Security::SecurityPolicy &policy = *Security::findSecurityPolicy(QString::fromLatin1(policyName));
    QByteArray plain(4, '\0');
    qToLittleEndian<quint32>(quint32(password.size() + nonce.size()), plain.data());
    plain += password + nonce;
    UserNameIdentityToken token;
    token.policyId = policyId;
    token.userName = name;
    token.password = *Security::Crypto::rsaEncrypt(Pki::get().store->ownCertificate().publicKey(),
                                                   policy.asymmetricEncryption, plain);
    token.encryptionAlgorithm = policy.asymmetricEncryptionUri;
    return received(token);
}

} // namespace

TEST(UaIdentity, TokensGetTheStatusTheirEndpointAndUserCallFor)
{
    Pki &pki = Pki::get();
    const QString usersFile = pki.dir.path() + "/users";
    ASSERT_EQ(Security::UserStore(usersFile).setPassword("operator", "secret", 1000), QString());
    auto users = std::make_shared<Security::UserStore>(usersFile);
    const auto *b256 = Security::findSecurityPolicy(u"Basic256Sha256");
    const UserAccess open(true, users, pki.store, b256), closed(false, users, pki.store, b256), anonymousOnly;
    const QString none = SecurityPolicyNone::policyUri(), secure = b256->uri;

    EXPECT_EQ(open.userTokenPolicies(none).at(1).securityPolicyUri, b256->uri) << "passwords never go in the clear";
    EXPECT_EQ(open.userTokenPolicies(secure).at(1).securityPolicyUri, QString()) << "the channel's own policy";
    EXPECT_EQ(anonymousOnly.userTokenPolicies(secure).size(), 1u);

    struct Case {
        const char *what;
        const AccessControl &access;
        QString channelPolicy;
        ExtensionObject token;
        StatusCode expected;
    };
    UserNameIdentityToken wrongAlgorithm;
    decodeExtension(userNameToken(), wrongAlgorithm);
    wrongAlgorithm.encryptionAlgorithm = "http://www.w3.org/2001/04/xmlenc#rsa-oaep-sha256";
    const Case cases[] = {
        {"no token", open, none, ExtensionObject{}, Status::Good},
        {"anonymous", open, secure, received(AnonymousIdentityToken{"anonymous"}), Status::Good},
        {"anonymous switched off", closed, secure, received(AnonymousIdentityToken{"anonymous"}),
         Status::BadIdentityTokenRejected},
        {"no token, anonymous switched off", closed, none, ExtensionObject{}, Status::BadIdentityTokenRejected},
        {"user and password", closed, none, userNameToken(), Status::Good},
        {"user on a secure channel", open, secure, userNameToken(), Status::Good},
        {"wrong password", open, secure, userNameToken("operator", "Secret"), Status::BadUserAccessDenied},
        {"unknown user", open, none, userNameToken("nobody"), Status::BadUserAccessDenied},
        {"another nonce", open, none, userNameToken("operator", "secret", QByteArray(32, 'x')),
         Status::BadIdentityTokenInvalid},
        {"encrypted by another policy", open, none, userNameToken("operator", "secret", Nonce, "Aes256_Sha256_RsaPss"),
         Status::BadIdentityTokenInvalid},
        {"wrong algorithm named", open, none, received(wrongAlgorithm), Status::BadIdentityTokenInvalid},
        {"unknown user token policy", open, none,
         userNameToken("operator", "secret", Nonce, "Basic256Sha256", "password"), Status::BadIdentityTokenInvalid},
        {"no UserName policy on the endpoint", anonymousOnly, secure, userNameToken(),
         Status::BadIdentityTokenRejected},
        {"certificate token", open, secure, raw(327, QByteArray(4, '\0')), Status::BadIdentityTokenRejected},
        {"not a token", open, secure, raw(12345, {}), Status::BadIdentityTokenInvalid},
    };
    for (const Case &c : cases) {
        const SignatureData noSignature;
        UserIdentity user;
        EXPECT_EQ(c.access.activateSession({c.token, noSignature, c.channelPolicy, Nonce}, user), c.expected) << c.what;
        if (c.expected == Status::Good) {
            EXPECT_EQ(user.name, c.token.typeId.isNumeric(Id::UserNameIdentityToken_Binary) ? "operator" : "")
                << c.what;
        }
    }
}

TEST(UaIdentity, RefusedPasswordsAreAnsweredLateWithoutHoldingUpOtherClients)
{
    Pki &pki = Pki::get();
    const QString usersFile = pki.dir.path() + "/users-delay";
    ASSERT_EQ(Security::UserStore(usersFile).setPassword("operator", "secret", 1000), QString());
    UaCore ua;
    ua.config.accessControl = std::make_shared<UserAccess>(true, std::make_shared<Security::UserStore>(usersFile),
                                                           pki.store, Security::findSecurityPolicy(u"Basic256Sha256"));
    std::int32_t traceLevel = 1;
    ua.server.SetTraceLevel(traceLevel);
    ua.start();
    MemoryPeer &guesser = ua.channel(), &other = ua.client();

    auto attempt = [&](const QByteArray &password) {
        EXPECT_EQ(guesser.createSession(), Status::Good);
        ActivateSessionRequest request;
        request.userIdentityToken = userNameToken("operator", password, guesser.secure.sessionNonce);
        return guesser.send(request);
    };
    auto answerAfter = [&](std::uint32_t requestId, qint64 ms) {
        ua.clock.advance(ms - 1);
        ua.core->tick();
        EXPECT_FALSE(guesser.frameWaiting()) << "answered before " << ms << " ms";
        EXPECT_TRUE(other.read(NodeId(0, 2259)).status == Status::Good) << "others are served meanwhile";
        ua.clock.advance(1);
        ua.core->tick();
        ActivateSessionResponse response;
        return guesser.receive(requestId, response).fault;
    };
    EXPECT_EQ(answerAfter(attempt("guess 1"), 500), Status::BadUserAccessDenied);
    EXPECT_EQ(answerAfter(attempt("guess 2"), 1000), Status::BadUserAccessDenied) << "the delay doubles";
    // While a delay runs, not even the right password is checked.
    const std::uint32_t early = attempt("guess 3");
    const std::uint32_t right = attempt("secret");
    EXPECT_EQ(answerAfter(early, 2000), Status::BadUserAccessDenied);
    ActivateSessionResponse response;
    EXPECT_EQ(guesser.receive(right, response).fault, Status::BadUserAccessDenied);
    EXPECT_EQ(guesser.receive(attempt("secret"), response).fault, Status::Good) << "answered at once";
    EXPECT_TRUE(std::any_of(ua.traces.begin(), ua.traces.end(), [](const QString &t) {
        return t.contains("user \"operator\" refused (3 in a row, 3 in all)");
    }));
}

TEST(UaSecuritySetup, SettingsAndPkiProblemsAreReportedAndTheRestIsServed)
{
    QTemporaryDir app;
    auto offered = [](const ServerConfig &c) {
        QStringList list;
        for (const SecurityOffer &o : c.security)
            list << o.policy->uri().section('#', 1) + ':' + QString::number(int(o.mode));
        return list.join(' ');
    };
    SecuritySettings settings;
    settings.applicationFolder = app.path();
    settings.identity.applicationUri = "urn:testhost:QUARLEN.KV7.1";
    ServerConfig config;
    EXPECT_EQ(configureSecurity(config, settings), QStringList());
    EXPECT_EQ(offered(config), "None:1 Basic256Sha256:2 Basic256Sha256:3 Aes128_Sha256_RsaOaep:2 "
                               "Aes128_Sha256_RsaOaep:3 Aes256_Sha256_RsaPss:2 Aes256_Sha256_RsaPss:3");
    struct stat key {};
    ASSERT_EQ(::stat(QFile::encodeName(app.path() + "/pki/own/private/application.pem").constData(), &key), 0);
    EXPECT_EQ(key.st_mode & 0777, 0600u);

    settings.policies = " Aes256_Sha256_RsaPss , Bogus";
    settings.anonymous = "yes";
    settings.autoTrust = "2";
    const QStringList problems = configureSecurity(config, settings);
    ASSERT_EQ(problems.size(), 3) << problems.join('\n').toStdString();
    EXPECT_TRUE(problems[0].contains("\"Bogus\"") && problems[1].startsWith("UaAnonymous") &&
                problems[2].startsWith("UaAutoTrust"));
    EXPECT_EQ(offered(config), "Aes256_Sha256_RsaPss:2 Aes256_Sha256_RsaPss:3");
    EXPECT_EQ(config.accessControl->userTokenPolicies(SecurityPolicyNone::policyUri()).at(0).tokenType, 0)
        << "anonymous stays on, its default";

    settings.policies = "";
    configureSecurity(config, settings);
    EXPECT_EQ(config.security.size(), 7u) << "nothing named: all of them";

    // A PKI folder that cannot be made: one message naming the path, None served alone.
    QFile blocker(app.path() + "/blocked");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    settings.applicationFolder = blocker.fileName();
    settings.policies = "None,Basic256Sha256,Aes128_Sha256_RsaOaep";
    const QStringList failed = configureSecurity(config, settings);
    ASSERT_EQ(failed.size(), 4);
    EXPECT_TRUE(failed[2].contains(blocker.fileName())) << failed[2].toStdString();
    EXPECT_EQ(failed[3], "OPC UA security policies dropped: Basic256Sha256, Aes128_Sha256_RsaOaep; served: None");
    EXPECT_EQ(offered(config), "None:1");
    EXPECT_EQ(config.accessControl->userTokenPolicies(SecurityPolicyNone::policyUri()).size(), 1u)
        << "no UserName without a key to decrypt passwords";
}

TEST(UaSecureChannel, SecuredChannelsServeRenewAndEndAloneOnATamperedOrReplayedChunk)
{
    Pki &pki = Pki::get();
    pki.store->setAutoTrust(true);
    UaCore ua;
    ua.addPanelItems();
    ua.config.security.clear();
    for (const auto &[name, mode] : PolicyModes)
        ua.config.security.push_back(
            {std::make_shared<CryptoPolicy>(*Security::findSecurityPolicy(QString::fromLatin1(name)), pki.store),
             mode});
    ua.start();
    const NodeId measure(1, QStringLiteral("C01.Z1.D1.Measure"));
    auto securePeer = [&](const char *policy, SecurityMode mode, const Security::RsaKey &key,
                          const Security::Certificate &cert) -> MemoryPeer & {
        MemoryPeer &p = ua.connect();
        p.useSecurity(Security::findSecurityPolicy(QString::fromLatin1(policy)), Security::SecurityMode(int(mode)), key,
                      cert, pki.store->ownCertificate());
        return p;
    };
    std::vector<MemoryPeer *> peers;
    for (const auto &[name, mode] : PolicyModes) {
        MemoryPeer &p = securePeer(name, mode, pki.clientKey, pki.clientCert);
        ASSERT_TRUE(p.hello() && p.openChannel()) << name;
        ASSERT_EQ(p.createSession(), Status::Good) << name;
        ASSERT_EQ(p.activateSession(), Status::Good) << name;
        EXPECT_EQ(p.read(measure).value.d, 1.25) << name;
        peers.push_back(&p);
    }

    // Without a None endpoint a channel without security serves discovery only.
    MemoryPeer &discovery = ua.channel();
    const auto endpoints = ask<GetEndpointsResponse>(discovery, GetEndpointsRequest{}).endpoints;
    EXPECT_EQ(endpoints.size(), PolicyModes.size());
    EXPECT_EQ(endpoints.at(0).serverCertificate, pki.store->ownCertificate().der());
    EXPECT_EQ(discovery.createSession(), Status::BadSecurityPolicyRejected);

    // Renewal: new nonces, new keys, and the channel goes on.
    MemoryPeer &renewing = *peers[1];
    const std::uint32_t oldToken = renewing.tokenId;
    ASSERT_TRUE(renewing.openChannel(1));
    EXPECT_NE(renewing.tokenId, oldToken);
    EXPECT_EQ(renewing.read(measure).value.d, 1.25);

    // A chunk changed on the way, or one sent again: that channel ends, the others stay.
    QByteArray body;
    Encoder e(body);
    encodeMessage(e, ReadRequest{{peers[0]->authenticationToken, 0, 0, 0, {}, 0, {}}, 0, 0, {readId(measure)}});
    QByteArray tampered = peers[0]->chunk('F', 99, body);
    tampered[tampered.size() - 3] = char(tampered[tampered.size() - 3] ^ 0x40);
    peers[0]->sendBytes(tampered);
    EXPECT_EQ(UaTestPeer::errorStatus(peers[0]->nextFrame()), Status::BadSecurityChecksFailed);
    EXPECT_TRUE(peers[0]->closedByServer());
    const QByteArray once = peers[3]->chunk('F', 98, body);
    peers[3]->sendBytes(once);
    ASSERT_FALSE(peers[3]->nextFrame().isEmpty());
    peers[3]->sendBytes(once);
    EXPECT_EQ(UaTestPeer::errorStatus(peers[3]->nextFrame()), Status::BadSecurityChecksFailed);
    EXPECT_EQ(peers[5]->read(measure).value.d, 1.25);

    // A session's proof must come from the channel's key.
    MemoryPeer &forger = securePeer("Basic256Sha256", SecurityMode::Sign, pki.clientKey, pki.clientCert);
    ASSERT_TRUE(forger.hello() && forger.openChannel() && forger.createSession() == Status::Good);
    forger.secure.sessionNonce[0] = char(forger.secure.sessionNonce[0] ^ 1);
    EXPECT_EQ(forger.activateSession(), Status::BadApplicationSignatureInvalid);
}
