// Structures and messages against bytes node-opcua encoded (golden/make-golden.js): our encoder must give the
// same bytes for the same values, and our decoder must put every field of those bytes where it belongs. A slip
// in a field table, which a round trip of our own would not notice, fails here.
#include "ua/UaStructures.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace Ua;

namespace {

const DateTime When = toDateTime(QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9, 123), Qt::UTC));

QByteArray vectors()
{
    QFile file(QStringLiteral(KV7_UA_GOLDEN)); // where the build saw it
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray golden(const char *name)
{
    static const QByteArray all = vectors();
    for (const QByteArray &line : all.split('\n'))
        if (line.startsWith(QByteArray(name) + ' '))
            return QByteArray::fromHex(line.mid(int(qstrlen(name)) + 1));
    return {};
}

std::string hex(const TypeDesc &type, const void *object, bool message)
{
    QByteArray b;
    Encoder e(b);
    message ? encodeMessage(e, type, object) : encodeStructure(e, type, object);
    return b.toHex().toStdString();
}

// node-opcua's bytes of name must decode as type (a message after its encoding id) and give the same bytes again,
// which shows every field in its place (null and empty strings included, as their bytes differ); ours too.
void expectGolden(const char *name, const TypeDesc &type, bool message, const std::string &ours)
{
    const QByteArray bytes = golden(name);
    EXPECT_EQ(ours, bytes.toHex().toStdString()) << name;
    AnyStructure back(type);
    try {
        Decoder d(bytes);
        EXPECT_TRUE(!message || decodeNodeId(d).isNumeric(type.binaryEncodingId)) << name;
        decodeStructure(d, type, back.get());
        EXPECT_TRUE(d.atEnd()) << name;
    } catch (const CodecError &e) {
        ADD_FAILURE() << name << " does not decode: " << statusName(e.status);
    }
    EXPECT_EQ(hex(type, back.get(), message), bytes.toHex().toStdString()) << name;
}

template <class T> void expectGolden(const char *name, const T &value)
{
    expectGolden(name, T::desc(), true, hex(T::desc(), &value, true));
}

// A DataValue with the fields its mask names; both timestamps When, picoseconds 7 and 8.
DataValue value(std::uint8_t mask, Variant v, StatusCode status = Status::Good)
{
    return DataValue{.value = std::move(v),
                     .mask = mask,
                     .sourcePicoseconds = 7,
                     .serverPicoseconds = 8,
                     .sourceTimestamp = When,
                     .serverTimestamp = When,
                     .status = status};
}
constexpr std::uint8_t Plain = DataValue::HasValue, WithStatus = Plain | DataValue::HasStatus,
                       Stamped = Plain | DataValue::HasSourceTimestamp | DataValue::HasServerTimestamp,
                       Pico = Stamped | DataValue::HasSourcePicoseconds | DataValue::HasServerPicoseconds;

// A structure whose every field holds a value that follows from the field's name, as make-golden.js fills
// node-opcua's: a field out of place or of another type changes the bytes. Arrays hold one element.
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
        std::uint32_t h = 2166136261u; // FNV-1a of the field's name
        for (const char *c = f.name; *c; ++c)
            h = (h ^ std::uint8_t(*c)) * 16777619u;
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

// Each structure's synthetic bytes against node-opcua's; how many were checked.
template <class... T> std::size_t expectFieldTables()
{
    for (const TypeDesc *type : {&T::desc()...}) {
        QByteArray ours;
        Encoder e(ours);
        synthetic(e, *type);
        expectGolden((std::string("Fields.") + type->name).c_str(), *type, false, ours.toHex().toStdString());
    }
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
        UserNameIdentityToken, ViewDescription, BrowseDescription, ReferenceDescription, BrowseResult, BrowseRequest,
        BrowseResponse, BrowseNextRequest, BrowseNextResponse, RelativePathElement, RelativePath, BrowsePath,
        BrowsePathTarget, BrowsePathResult, TranslateBrowsePathsToNodeIdsRequest, TranslateBrowsePathsToNodeIdsResponse,
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
    EXPECT_EQ(std::size_t(vectors().count("\nFields.")), checked); // no structure left out
}

TEST(UaGolden, DataValuesOfEveryKindAndNotificationsInExtensionObjects)
{
    const ResponseHeader header{When, 77, Status::Good, {}, {}, {}};
    const ReadResponse response{
        header,
        {value(Stamped, Variant::boolean(true)), value(Plain, Variant::integer(BuiltinType::Int16, -7)),
         value(WithStatus, Variant::real(BuiltinType::Float, 1.25), Status::UncertainLastUsableValue),
         value(Pico, Variant::real(BuiltinType::Double, -1e300)), value(Plain, Variant::string(QStringLiteral("CO"))),
         value(Plain, Variant::dateTime(When)), value(Plain, Variant::byteString(QByteArray("\0\1\2", 3))),
         value(Plain, Variant::localizedText({QStringLiteral("en"), QStringLiteral("Zone")})),
         value(Plain, Variant::stringArray({QStringLiteral("a"), QStringLiteral("b")})),
         value(DataValue::HasStatus, {}, Status::BadNodeIdUnknown)},
        {}};
    expectGolden("ReadResponse", response);

    DataChangeNotification change{{{1, value(Stamped, Variant::real(BuiltinType::Float, 7.5))},
                                   {2, value(DataValue::HasStatus, {}, Status::BadOutOfService)}},
                                  {}};
    const PublishResponse publish{
        header, 3, {5, 6}, true, {6, When, {makeExtension(change)}}, {Status::Good, Status::BadSequenceNumberUnknown},
        {}};
    expectGolden("PublishResponse", publish);
}
