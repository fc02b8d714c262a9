// The secure side: certificate checks, identity tokens, delayed refusals, security settings, channels per policy.
#include "UaFixture.h"
#include "security/UserStore.h"
#include "ua/UaSecuritySetup.h"

#include <QTemporaryDir>
#include <QtEndian>

using namespace Ua;

namespace {

const Security::SecurityPolicy &Basic256 = *Security::findSecurityPolicy(u"Basic256Sha256");

// Our PKI, a users file with "operator" (password "secret"), a client's key and certificate: made once (RSA is slow).
struct Pki {
    QTemporaryDir dir;
    std::shared_ptr<Security::CertificateStore> store =
        std::make_shared<Security::CertificateStore>(dir.path() + "/pki");
    std::shared_ptr<Security::UserStore> users = std::make_shared<Security::UserStore>(dir.path() + "/users");
    Security::RsaKey clientKey = Security::RsaKey::generate(2048);
    Security::Certificate clientCert = UaTestPeer::clientCertificate("client", clientKey);
    const QString problems = store->open({"urn:testhost:QUARLEN.KV7.1", "OPC-KV7", {}, {"testhost"}}) +
                             users->setPassword("operator", "secret", 1000);

    static Pki &get()
    {
        static Pki pki;
        EXPECT_EQ(pki.problems, QString());
        return pki;
    }
};

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

// A UserName token as a client builds it, encrypted with our public key as Basic256Sha256 does.
const QByteArray Nonce(32, 'n');
UserNameIdentityToken userName(const QByteArray &password = "secret", const QByteArray &nonce = Nonce)
{
    QByteArray plain(4, '\0');
    qToLittleEndian<quint32>(quint32(password.size() + nonce.size()), plain.data());
    const auto encrypted = Security::Crypto::rsaEncrypt(Pki::get().store->ownCertificate().publicKey(),
                                                        Basic256.asymmetricEncryption, plain + password + nonce);
    return {"username", "operator", encrypted.value_or("failed"), Basic256.asymmetricEncryptionUri};
}

} // namespace

TEST(UaSecurity, ClientCertificatesAreCheckedAndIdentityTokensGetTheStatusTheirEndpointAndUserCallFor)
{
    Pki &pki = Pki::get();
    const CryptoPolicy server(Basic256, pki.store);
    const QByteArray ours = pki.store->ownCertificate().thumbprint(), another = ours.mid(1) + ours.left(1);
    // The sender's certificate, the receiver's thumbprint it names, the status, why in the trace.
    const std::tuple<QByteArray, QByteArray, StatusCode, const char *> cases[] = {
        {pki.clientCert.der(), another, Status::BadCertificateInvalid, "not meant for our certificate"},
        {"not a certificate", ours, Status::BadSecurityChecksFailed, "refused: BadCertificateInvalid"},
        {UaTestPeer::clientCertificate("stranger", pki.clientKey).der(), ours, Status::BadSecurityChecksFailed,
         "refused: BadCertificateUntrusted"},
    };
    for (const auto &[sender, receiver, expected, because] : cases) {
        QString why;
        EXPECT_EQ(server.acceptPeer({server.uri(), sender, receiver}, why), expected) << because;
        EXPECT_TRUE(why.contains(because)) << why.toStdString();
    }

    for (const StatusCode passes : {Status::BadCertificateTimeInvalid, Status::BadCertificateUseNotAllowed,
                                    Status::BadCertificateRevocationUnknown, Status::BadCertificateUriInvalid})
        EXPECT_EQ(certificateRefusal(passes), passes);
    for (const StatusCode hidden :
         {Status::BadCertificateUntrusted, Status::BadCertificateRevoked, Status::BadCertificateIssuerRevocationUnknown,
          Status::BadCertificateChainIncomplete})
        EXPECT_EQ(certificateRefusal(hidden), Status::BadSecurityChecksFailed);

    const UserAccess open(true, pki.users, pki.store, &Basic256), closed(false, pki.users, pki.store, &Basic256),
        anonymousOnly;
    const QString none = SecurityPolicyNone::policyUri(), secure = Basic256.uri;

    EXPECT_EQ(open.userTokenPolicies(none).at(1).securityPolicyUri, secure) << "passwords never go in the clear";
    EXPECT_EQ(open.userTokenPolicies(secure).at(1).securityPolicyUri, QString()) << "the channel's own policy";
    EXPECT_EQ(anonymousOnly.userTokenPolicies(secure).size(), 1u);

    UserNameIdentityToken wrongAlgorithm = userName(), wrongPolicyId = userName();
    wrongAlgorithm.encryptionAlgorithm = "http://www.w3.org/2001/04/xmlenc#rsa-oaep-sha256";
    wrongPolicyId.policyId = "password";
    // What is tried, where, with what token, and the status (wrong passwords of real clients: the interop tests).
    const std::tuple<const char *, const AccessControl &, QString, ExtensionObject, StatusCode> tokens[] = {
        {"no token", open, none, ExtensionObject{}, Status::Good},
        {"anonymous", open, secure, received(AnonymousIdentityToken{"anonymous"}), Status::Good},
        {"no token, anonymous switched off", closed, none, ExtensionObject{}, Status::BadIdentityTokenRejected},
        {"user and password", closed, none, received(userName()), Status::Good},
        {"another nonce", open, none, received(userName("secret", QByteArray(32, 'x'))),
         Status::BadIdentityTokenInvalid},
        {"wrong algorithm named", open, none, received(wrongAlgorithm), Status::BadIdentityTokenInvalid},
        {"unknown user token policy", open, none, received(wrongPolicyId), Status::BadIdentityTokenInvalid},
        {"no UserName policy on the endpoint", anonymousOnly, secure, received(userName()),
         Status::BadIdentityTokenRejected},
        {"certificate token", open, secure, raw(327, QByteArray(4, '\0')), Status::BadIdentityTokenRejected},
        {"not a token", open, secure, raw(12345, {}), Status::BadIdentityTokenInvalid},
    };
    for (const auto &[what, access, channelPolicy, token, expected] : tokens) {
        UserIdentity user;
        EXPECT_EQ(access.activateSession({token, SignatureData(), channelPolicy, Nonce}, user), expected) << what;
        if (expected == Status::Good) {
            EXPECT_EQ(user.name, token.typeId.isNumeric(Id::UserNameIdentityToken_Binary) ? "operator" : "") << what;
        }
    }
}

TEST(UaIdentity, RefusedPasswordsAreAnsweredLateWithoutHoldingUpOtherClients)
{
    Pki &pki = Pki::get();
    UaCore ua;
    ua.config.accessControl = std::make_shared<UserAccess>(true, pki.users, pki.store, &Basic256);
    std::int32_t traceLevel = 1;
    ua.server.SetTraceLevel(traceLevel);
    ua.start();
    MemoryPeer &guesser = ua.channel(), &other = ua.client();

    auto attempt = [&](const QByteArray &password) {
        EXPECT_EQ(guesser.createSession(), Status::Good);
        ActivateSessionRequest request;
        request.userIdentityToken = received(userName(password, guesser.secure.sessionNonce));
        return guesser.send(request);
    };
    auto answerAfter = [&](std::uint32_t requestId, qint64 ms) {
        ua.advance(ms - 1);
        EXPECT_FALSE(guesser.frameWaiting()) << "answered before " << ms << " ms";
        EXPECT_TRUE(other.read(NodeId(0, 2259)).status == Status::Good) << "others are served meanwhile";
        ua.advance(1);
        ActivateSessionResponse response;
        return guesser.receive(requestId, response).fault;
    };
    EXPECT_EQ(answerAfter(attempt("guess 1"), 500), Status::BadUserAccessDenied);
    EXPECT_EQ(answerAfter(attempt("guess 2"), 1000), Status::BadUserAccessDenied) << "the delay doubles";
    // While a delay runs, not even the right password is checked.
    const std::uint32_t early = attempt("guess 3"), right = attempt("secret");
    EXPECT_EQ(answerAfter(early, 2000), Status::BadUserAccessDenied);
    ActivateSessionResponse response;
    EXPECT_EQ(guesser.receive(right, response).fault, Status::BadUserAccessDenied);
    EXPECT_EQ(guesser.receive(attempt("secret"), response).fault, Status::Good) << "answered at once";
    EXPECT_EQ(answerAfter(attempt("guess 4"), 500), Status::BadUserAccessDenied) << "a login starts the delays anew";
    EXPECT_TRUE(std::ranges::any_of(ua.traces, [](const QString &t) {
        return t.contains("user \"operator\" refused (1 in a row, 4 in all), answered in 500 ms");
    }));
}

TEST(UaSecuritySetup, SettingsAndPkiProblemsAreReportedAndTheRestIsServed)
{
    QTemporaryDir app;
    ServerConfig config;
    SecuritySettings settings;
    settings.applicationFolder = app.path();
    settings.identity.applicationUri = "urn:testhost:QUARLEN.KV7.1";
    // The problems reported, the endpoints offered and the token types on a None endpoint.
    const auto configure = [&] {
        QStringList offered, tokens;
        const QStringList problems = configureSecurity(config, settings);
        for (const SecurityOffer &o : config.security)
            offered << o.policy->uri().section('#', 1) + ':' + QString::number(int(o.mode));
        for (const UserTokenPolicy &p : config.accessControl->userTokenPolicies(SecurityPolicyNone::policyUri()))
            tokens << QString::number(p.tokenType);
        return std::tuple(problems.join('\n'), offered.join(' '), tokens.join(' '));
    };
    // What the defaults give, the interop tests see in the endpoints.
    std::tie(settings.policies, settings.anonymous, settings.autoTrust) =
        std::tuple(" Aes256_Sha256_RsaPss , Bogus", "yes", "2");
    EXPECT_EQ(configure(), std::tuple(QString("UaSecurityPolicies: unknown security policy \"Bogus\" ignored\n"
                                              "UaAnonymous: \"yes\" is neither 0 nor 1; using 1\n"
                                              "UaAutoTrust: \"2\" is neither 0 nor 1; using 0"),
                                      "Aes256_Sha256_RsaPss:2 Aes256_Sha256_RsaPss:3", "0 1"));
    settings.policies = "";
    EXPECT_EQ(std::get<1>(configure()).count(' '), 6) << "nothing named: all of them";

    // A PKI folder that cannot be made: None alone, and no UserName without a key for passwords.
    QFile blocker(app.path() + "/blocked");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    settings.applicationFolder = blocker.fileName();
    settings.policies = "None,Basic256Sha256,Aes128_Sha256_RsaOaep";
    const auto [problems, offered, tokens] = configure();
    EXPECT_TRUE(problems.count('\n') == 3 && problems.section('\n', 2, 2).contains(blocker.fileName()) &&
                problems.endsWith("\nOPC UA security policies dropped: Basic256Sha256, Aes128_Sha256_RsaOaep; "
                                  "served: None"))
        << problems.toStdString();
    EXPECT_EQ(std::tuple(offered, tokens), std::tuple(QString("None:1"), QString("0")));
}

TEST(UaSecureChannel, SecuredChannelsServeAndEndAloneOnATamperedOrReplayedChunk)
{
    Pki &pki = Pki::get();
    pki.store->setAutoTrust(true);
    UaCore ua;
    ua.addPanelItems();
    ua.config.security.clear();
    const NodeId measure(1, QStringLiteral("C01.Z1.D1.Measure"));
    for (const Security::SecurityPolicy &p : Security::securityPolicies())
        for (const SecurityMode mode : {SecurityMode::Sign, SecurityMode::SignAndEncrypt})
            if (p.secure)
                ua.config.security.push_back({std::make_shared<CryptoPolicy>(p, pki.store), mode});
    ua.start();
    std::vector<MemoryPeer *> peers;
    for (const SecurityOffer &offer : ua.config.security) {
        MemoryPeer &p = ua.connect();
        p.useSecurity(Security::findSecurityPolicy(offer.policy->uri()), Security::SecurityMode(int(offer.mode)),
                      pki.clientKey, pki.clientCert, pki.store->ownCertificate());
        ASSERT_TRUE(p.hello() && p.openChannel() && p.session()) << offer.policy->uri().toStdString();
        EXPECT_EQ(p.read(measure).value.d, 1.25);
        peers.push_back(&p);
    }

    // Without a None endpoint a channel without security serves discovery only.
    MemoryPeer &discovery = ua.channel();
    EXPECT_EQ(ask<GetEndpointsResponse>(discovery, GetEndpointsRequest{}).endpoints.size(), peers.size());
    EXPECT_EQ(discovery.createSession(), Status::BadSecurityPolicyRejected);

    // A chunk changed on the way, or one sent again: that channel ends, the others stay.
    QByteArray body;
    Encoder e(body);
    encodeMessage(e, ReadRequest{{peers[0]->authenticationToken, 0, 0, 0, {}, 0, {}}, 0, 0, {readId(measure)}});
    QByteArray tampered = peers[0]->chunk('F', 99, body);
    tampered[tampered.size() - 3] = char(tampered[tampered.size() - 3] ^ 0x40);
    peers[0]->sendBytes(tampered);
    EXPECT_TRUE(UaTestPeer::errorStatus(peers[0]->nextFrame()) == Status::BadSecurityChecksFailed &&
                peers[0]->closedByServer());
    const QByteArray once = peers[3]->chunk('F', 98, body);
    peers[3]->sendBytes(once);
    ASSERT_FALSE(peers[3]->nextFrame().isEmpty());
    peers[3]->sendBytes(once);
    EXPECT_EQ(UaTestPeer::errorStatus(peers[3]->nextFrame()), Status::BadSecurityChecksFailed);
    EXPECT_EQ(peers[5]->read(measure).value.d, 1.25);

    // A renewal comes with the certificate the channel was opened with, even one of the same key.
    MemoryPeer &renewer = *peers[1];
    ASSERT_TRUE(renewer.openChannel(1));
    renewer.secure.certificate = UaTestPeer::clientCertificate("another", pki.clientKey).der();
    renewer.sendBytes(renewer.openFrame(1, renewer.channelId));
    EXPECT_EQ(UaTestPeer::errorStatus(renewer.nextFrame()), Status::BadSecurityChecksFailed);

    // A session's proof must come from the channel's key.
    MemoryPeer &forger = *peers[2];
    ASSERT_EQ(forger.createSession(), Status::Good);
    forger.secure.sessionNonce[0] = char(forger.secure.sessionNonce[0] ^ 1);
    EXPECT_EQ(forger.activateSession(), Status::BadApplicationSignatureInvalid);
}
