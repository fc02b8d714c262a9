// Structures and messages against bytes node-opcua encoded (golden/make-golden.js):
// our encoder must give the same bytes for the same values, and our decoder must put
// every field of those bytes where it belongs. A slip in a field table, which a round
// trip of our own would not notice, fails here.
#include "ua/UaStructures.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace Ua;

namespace {

const DateTime When = toDateTime(QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9, 123), Qt::UTC));

QByteArray golden(const char *name)
{
    QFile file(qEnvironmentVariable("KV7_SOURCE_DIR") + QStringLiteral("/tests/ua/golden/vectors.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith(QByteArray(name) + ' '))
            return QByteArray::fromHex(line.mid(int(qstrlen(name)) + 1));
    return {};
}

template <class T> std::string hex(const T &value, bool message)
{
    QByteArray b;
    Encoder e(b);
    message ? encodeMessage(e, value) : encodeStructure(e, T::desc(), &value);
    return b.toHex().toStdString();
}

// Our bytes for value must be node-opcua's; node-opcua's bytes decoded must hold
// value field for field, which the encoder, now known to be right, shows (null and
// empty strings included, as their bytes differ).
template <class T> void expectGolden(const char *name, const T &value, bool message = true)
{
    const QByteArray bytes = golden(name);
    EXPECT_FALSE(bytes.isEmpty()) << name << " missing from golden/vectors.txt";
    EXPECT_EQ(hex(value, message), bytes.toHex().toStdString()) << name;
    T back;
    try {
        Decoder d(bytes);
        if (message) {
            EXPECT_TRUE(decodeNodeId(d).isNumeric(T::binaryEncodingId)) << name;
        }
        decodeInto(d, back);
        EXPECT_TRUE(d.atEnd()) << name;
    } catch (const CodecError &e) {
        ADD_FAILURE() << name << " does not decode: " << statusName(e.status);
    }
    EXPECT_EQ(hex(back, message), hex(value, message)) << name;
}

RequestHeader requestHeader()
{
    return RequestHeader{NodeId::ofBytes(1, "token"), When, 77, 0, QStringLiteral("audit"), 10000, {}};
}

ResponseHeader responseHeader() { return ResponseHeader{When, 77, Status::Good, {}, {}, {}}; }

DataValue value(Variant v, StatusCode status = Status::Good, bool stamped = false)
{
    DataValue dv;
    dv.setValue(std::move(v));
    dv.setStatus(status);
    if (stamped) {
        dv.sourceTimestamp = dv.serverTimestamp = When;
        dv.mask |= DataValue::HasSourceTimestamp | DataValue::HasServerTimestamp;
    }
    return dv;
}

DataValue statusOnly(StatusCode status)
{
    DataValue dv;
    dv.setStatus(status);
    return dv;
}

ApplicationDescription application(const char *uri, const char *product, const char *name, std::int32_t type,
                                   std::vector<QString> urls)
{
    return {QString::fromLatin1(uri), QString::fromLatin1(product), {{}, QString::fromLatin1(name)}, type, {}, {},
            std::move(urls)};
}

std::uint32_t fieldHash(const char *name)
{
    std::uint32_t h = 2166136261u;
    for (; *name; ++name)
        h = (h ^ std::uint8_t(*name)) * 16777619u;
    return h;
}

// A structure whose every field holds a value that follows from the field's name, as
// make-golden.js fills node-opcua's: a field out of place or of another type changes
// the bytes. Arrays hold one element.
void synthetic(Encoder &e, const TypeDesc &type)
{
    for (std::size_t k = 0; k < type.fieldCount; ++k) {
        const FieldDesc &f = type.fields[k];
        const TypeDesc &ft = *f.type();
        if (f.isArray)
            e.i32(1);
        if (ft.kind == TypeDesc::Kind::Structure) {
            synthetic(e, ft);
            continue;
        }
        const std::uint32_t h = fieldHash(f.name);
        const QString text = QString::number(h);
        const std::string_view n = ft.name;
        if (n == "Boolean" || n == "Byte")
            e.u8(std::uint8_t(n == "Boolean" ? h % 2 : h % 256));
        else if (n == "Int32") // every one an enumeration here
            e.i32(std::int32_t(h % 2));
        else if (n == "UInt16")
            e.u16(std::uint16_t(h % 65536));
        else if (n == "UInt32")
            e.u32(h);
        else if (n == "Int64") // every one a DateTime here
            e.i64(toDateTime(QDateTime::fromMSecsSinceEpoch(h % 1000000000, Qt::UTC)));
        else if (n == "Float" || n == "Double")
            n == "Float" ? e.f32(float(h % 65536)) : e.f64(h);
        else if (n == "String" || n == "ByteString")
            n == "String" ? e.string(text) : e.byteString(text.toLatin1());
        else if (n == "NodeId" || n == "ExpandedNodeId")
            n == "NodeId" ? encodeNodeId(e, NodeId(0, h)) : encodeExpandedNodeId(e, NodeId(0, h));
        else if (n == "QualifiedName" || n == "LocalizedText")
            n == "QualifiedName" ? encodeQualifiedName(e, {std::uint16_t(h % 65536), text})
                                 : encodeLocalizedText(e, {{}, text});
        else if (n == "ExtensionObject" || n == "DataValue" || n == "Variant" || n == "DiagnosticInfo")
            e.raw(n == "ExtensionObject" ? "\0\0\0" : "\0", n == "ExtensionObject" ? 3 : 1); // empty
        else
            ADD_FAILURE() << type.name << "." << f.name << ": no value for " << ft.name;
    }
}

void expectFieldTable(const TypeDesc &type)
{
    const QByteArray bytes = golden((std::string("Fields.") + type.name).c_str());
    QByteArray ours, again;
    Encoder e(ours), e2(again);
    synthetic(e, type);
    EXPECT_EQ(ours.toHex().toStdString(), bytes.toHex().toStdString()) << type.name;
    AnyStructure object(type);
    try {
        Decoder d(bytes);
        decodeStructure(d, type, object.get());
        EXPECT_TRUE(d.atEnd()) << type.name;
    } catch (const CodecError &) {
        ADD_FAILURE() << type.name << " does not decode";
    }
    encodeStructure(e2, type, object.get());
    EXPECT_EQ(again.toHex().toStdString(), bytes.toHex().toStdString()) << type.name;
}

template <class... T> std::size_t expectFieldTables()
{
    (expectFieldTable(T::desc()), ...);
    return sizeof...(T);
}

} // namespace

TEST(UaGolden, EveryStructureHasTheStandardsFieldsInTheirOrder)
{
    const std::size_t checked = expectFieldTables<
        RequestHeader, ResponseHeader, ChannelSecurityToken, OpenSecureChannelRequest, OpenSecureChannelResponse,
        CloseSecureChannelRequest, UserTokenPolicy, ApplicationDescription, EndpointDescription, GetEndpointsRequest,
        GetEndpointsResponse, FindServersRequest, FindServersResponse, SignatureData, SignedSoftwareCertificate,
        CreateSessionRequest, CreateSessionResponse, ActivateSessionRequest, ActivateSessionResponse,
        CloseSessionRequest, CloseSessionResponse, CancelRequest, CancelResponse, AnonymousIdentityToken,
        ViewDescription, BrowseDescription, ReferenceDescription, BrowseResult, BrowseRequest, BrowseResponse,
        BrowseNextRequest, BrowseNextResponse, RelativePathElement, RelativePath, BrowsePath, BrowsePathTarget,
        BrowsePathResult, TranslateBrowsePathsToNodeIdsRequest, TranslateBrowsePathsToNodeIdsResponse,
        RegisterNodesRequest, RegisterNodesResponse, UnregisterNodesRequest, UnregisterNodesResponse, ReadValueId,
        ReadRequest, ReadResponse, WriteValue, WriteRequest, WriteResponse, ServiceFault, BuildInfo,
        ServerStatusDataType, DataChangeFilter, MonitoringParameters, MonitoredItemCreateRequest,
        MonitoredItemCreateResult, CreateMonitoredItemsRequest, CreateMonitoredItemsResponse,
        MonitoredItemModifyRequest, MonitoredItemModifyResult, ModifyMonitoredItemsRequest,
        ModifyMonitoredItemsResponse, SetMonitoringModeRequest, SetMonitoringModeResponse, DeleteMonitoredItemsRequest,
        DeleteMonitoredItemsResponse, CreateSubscriptionRequest, CreateSubscriptionResponse, ModifySubscriptionRequest,
        ModifySubscriptionResponse, SetPublishingModeRequest, SetPublishingModeResponse, NotificationMessage,
        MonitoredItemNotification, DataChangeNotification, StatusChangeNotification, SubscriptionAcknowledgement,
        PublishRequest, PublishResponse, RepublishRequest, RepublishResponse, DeleteSubscriptionsRequest,
        DeleteSubscriptionsResponse, TransferResult, TransferSubscriptionsRequest, TransferSubscriptionsResponse,
        SetTriggeringRequest, SetTriggeringResponse, CallMethodRequest, CallMethodResult, CallRequest, CallResponse,
        Argument, ServerDiagnosticsSummaryDataType>();
    QFile file(qEnvironmentVariable("KV7_SOURCE_DIR") + QStringLiteral("/tests/ua/golden/vectors.txt"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(std::size_t(file.readAll().count("\nFields.")), checked); // no structure left out
}

TEST(UaGolden, HeadersAndDiscovery)
{
    const QString url = QStringLiteral("opc.tcp://testhost:4840");
    expectGolden(
        "EndpointDescription",
        EndpointDescription{url,
                            application("urn:testhost:QUARLEN.KV7.1", "urn:QUARLEN:OPC-KV7", "OPC-KV7", 0, {url}),
                            {},
                            1,
                            QStringLiteral("http://opcfoundation.org/UA/SecurityPolicy#None"),
                            {UserTokenPolicy{QStringLiteral("anonymous"), 0, {}, {}, {}}},
                            QStringLiteral("http://opcfoundation.org/UA-Profile/Transport/uatcp-uasc-uabinary"),
                            0},
        false);

    CreateSessionRequest cs;
    cs.requestHeader = requestHeader();
    cs.clientDescription = application("urn:test:client", "urn:test", "Test", 1, {});
    cs.endpointUrl = QStringLiteral("opc.tcp://localhost:4840");
    cs.sessionName = QStringLiteral("test session");
    cs.clientNonce = QByteArray(32, 'n');
    cs.requestedSessionTimeout = 60000;
    cs.maxResponseMessageSize = 1048576;
    expectGolden("CreateSessionRequest", cs);
}

TEST(UaGolden, ReadWithDataValuesOfSeveralTypes)
{
    ReadRequest read{requestHeader(), 500, 2, {}};
    for (const NodeId &id : {NodeId(1, QStringLiteral("C01.Z1.State")), NodeId(0, Id::NamespaceArray),
                             NodeId(1, QStringLiteral("C01.Panel"))})
        read.nodesToRead.push_back(ReadValueId{id, Attr::Value, {}, {}});
    read.nodesToRead[1].indexRange = QStringLiteral("1:2");
    read.nodesToRead[2].dataEncoding = QualifiedName{0, QStringLiteral("Default Binary")};
    expectGolden("ReadRequest", read);

    DataValue pico = value(Variant::real(BuiltinType::Double, -1e300), Status::Good, true);
    pico.sourcePicoseconds = 7;
    pico.serverPicoseconds = 8;
    pico.mask |= DataValue::HasSourcePicoseconds | DataValue::HasServerPicoseconds;
    const ReadResponse response{
        responseHeader(),
        {value(Variant::boolean(true), Status::Good, true), value(Variant::integer(BuiltinType::Int16, -7)),
         value(Variant::real(BuiltinType::Float, 1.25), Status::UncertainLastUsableValue), pico,
         value(Variant::string(QStringLiteral("CO"))), value(Variant::dateTime(When)),
         value(Variant::byteString(QByteArray("\0\1\2", 3))),
         value(Variant::localizedText({QStringLiteral("en"), QStringLiteral("Zone")})),
         value(Variant::stringArray({QStringLiteral("a"), QStringLiteral("b")})), statusOnly(Status::BadNodeIdUnknown)},
        {}};
    expectGolden("ReadResponse", response);
}

TEST(UaGolden, BrowseMonitoredItemsAndPublish)
{
    auto reference = [](std::uint32_t type, bool forward, NodeId target, QualifiedName name, std::uint32_t def) {
        return ReferenceDescription{NodeId(0, type), forward, target, name, LocalizedText{{}, name.name}, 1,
                                    NodeId(0, def)};
    };
    const BrowseResponse browse{responseHeader(),
                                {BrowseResult{Status::Good,
                                              "cp-1",
                                              {reference(Id::Organizes, true, NodeId(1, QStringLiteral("C01.Z1")),
                                                         {1, QStringLiteral("Z1")}, Id::FolderType),
                                               reference(Id::HasComponent, false, NodeId(0, Id::Server),
                                                         {0, QStringLiteral("Server")}, Id::ServerType)}},
                                 BrowseResult{Status::BadNodeIdUnknown, {}, {}}},
                                {}};
    expectGolden("BrowseResponse", browse);

    CreateMonitoredItemsRequest create{requestHeader(), 3, 2, {}};
    create.itemsToCreate.push_back(
        MonitoredItemCreateRequest{ReadValueId{NodeId(1, QStringLiteral("C01.Z1.D1.Measure")), Attr::Value, {}, {}}, 2,
                                   MonitoringParameters{1, 250, makeExtension(DataChangeFilter{1, 1, 5.0}), 10, true}});
    expectGolden("CreateMonitoredItemsRequest", create);

    DataChangeNotification change{{{1, value(Variant::real(BuiltinType::Float, 7.5), Status::Good, true)},
                                   {2, statusOnly(Status::BadOutOfService)}},
                                  {}};
    const PublishResponse publish{responseHeader(),
                                  3,
                                  {5, 6},
                                  true,
                                  {6, When, {makeExtension(change)}},
                                  {Status::Good, Status::BadSequenceNumberUnknown},
                                  {}};
    expectGolden("PublishResponse", publish);
}
