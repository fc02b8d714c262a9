// Attribute service set: Read of every attribute of every node and Write of item
// values through the toolkit's client entry points.
#include "common/Error.h"
#include "opc/OPCServer.h"
#include "ua/UaServerCore.h"

#include <cmath>
#include <optional>

namespace Ua {

namespace {

bool gateOpen(const OPCServer &server)
{
    return server.ServerState() == ServerStates::Running || server.ServerState() == ServerStates::Test;
}

DataValue statusOnly(StatusCode status)
{
    DataValue v;
    v.setStatus(status);
    return v;
}

Variant uaValue(const ::Variant &v)
{
    switch (v.type()) {
    case VarType::Byte: return Variant::integer(BuiltinType::Byte, v.get<std::uint8_t>());
    case VarType::Integer: return Variant::integer(BuiltinType::Int16, v.get<std::int16_t>());
    case VarType::Long: return Variant::integer(BuiltinType::Int32, v.get<std::int32_t>());
    case VarType::Single: return Variant::real(BuiltinType::Float, v.get<float>());
    case VarType::Double: return Variant::real(BuiltinType::Double, v.get<double>());
    case VarType::Currency: return Variant::real(BuiltinType::Double, v.get<Currency>().toDouble());
    case VarType::Date: return Variant::dateTime(toDateTime(v.get<QDateTime>()));
    case VarType::String: {
        // A text item always holds a text: Qt's null string is the empty one here,
        // not the UA null String.
        const QString &text = v.get<QString>();
        return Variant::string(text.isNull() ? QStringLiteral("") : text);
    }
    case VarType::Boolean: return Variant::boolean(v.get<bool>());
    case VarType::Empty: break;
    }
    return {};
}

// A written UA scalar as a toolkit value; nullopt for what no item type can take.
std::optional<::Variant> toolkitValue(const Variant &v)
{
    if (v.isArray)
        return std::nullopt;
    auto integer = [](std::int64_t i) -> ::Variant {
        if (i >= INT32_MIN && i <= INT32_MAX)
            return ::Variant(std::int32_t(i));
        return ::Variant(double(i));
    };
    switch (v.type) {
    case BuiltinType::Boolean: return ::Variant(v.i != 0);
    case BuiltinType::SByte:
    case BuiltinType::Int16: return ::Variant(std::int16_t(v.i));
    case BuiltinType::Byte: return ::Variant(std::uint8_t(v.i));
    case BuiltinType::UInt16:
    case BuiltinType::Int32:
    case BuiltinType::UInt32:
    case BuiltinType::Int64: return integer(v.i);
    case BuiltinType::UInt64:
        return std::uint64_t(v.i) > std::uint64_t(INT64_MAX) ? ::Variant(double(std::uint64_t(v.i))) : integer(v.i);
    case BuiltinType::Float: return ::Variant(float(v.d));
    case BuiltinType::Double: return ::Variant(v.d);
    case BuiltinType::String: return ::Variant(v.s.isNull() ? QStringLiteral("") : v.s);
    case BuiltinType::DateTime: return ::Variant(fromDateTime(v.i));
    default: return std::nullopt;
    }
}

// Index ranges (OPC 10000-4 7.22): "n" or "n:m" per dimension, dimensions split by ','.
struct Range {
    std::uint32_t first, last;
};

std::optional<std::vector<Range>> parseIndexRange(const QString &text)
{
    std::vector<Range> ranges;
    const auto parts = QStringView(text).split(u',');
    if (parts.size() > 8)
        return std::nullopt;
    for (QStringView part : parts) {
        const auto bounds = part.split(u':');
        if (bounds.empty() || bounds.size() > 2)
            return std::nullopt;
        std::uint32_t values[2] = {0, 0};
        for (qsizetype k = 0; k < bounds.size(); ++k) {
            if (bounds[k].isEmpty())
                return std::nullopt;
            for (QChar c : bounds[k])
                if (!c.isDigit() || c.unicode() > '9')
                    return std::nullopt;
            bool ok = false;
            values[k] = bounds[k].toUInt(&ok);
            if (!ok)
                return std::nullopt;
        }
        if (bounds.size() == 2 && values[1] <= values[0])
            return std::nullopt;
        ranges.push_back({values[0], bounds.size() == 2 ? values[1] : values[0]});
    }
    return ranges;
}

void applyIndexRange(DataValue &dv, const QString &text)
{
    const auto ranges = parseIndexRange(text);
    if (!ranges) {
        dv = statusOnly(Status::BadIndexRangeInvalid);
        return;
    }
    if (isBad(dv.status))
        return;
    Variant &v = dv.value;
    const Range r = ranges->front();
    auto noData = [&] { dv = statusOnly(Status::BadIndexRangeNoData); };
    if (ranges->size() != 1) {
        noData();
        return;
    }
    if (v.isArray) {
        const auto &elements = v.elements();
        if (r.first >= elements.size()) {
            noData();
            return;
        }
        const std::size_t last = std::min<std::size_t>(r.last, elements.size() - 1);
        v = Variant::array(v.type, std::vector<Variant>(elements.begin() + r.first, elements.begin() + last + 1));
        return;
    }
    if (v.type == BuiltinType::String || v.type == BuiltinType::ByteString) {
        const qsizetype size = v.type == BuiltinType::String ? v.s.size() : v.bytes().size();
        if (qsizetype(r.first) >= size) {
            noData();
            return;
        }
        const qsizetype count = std::min<qsizetype>(qsizetype(r.last), size - 1) - qsizetype(r.first) + 1;
        if (v.type == BuiltinType::String)
            v.s = v.s.mid(r.first, count);
        else
            v = Variant::byteString(v.bytes().mid(r.first, count));
        return;
    }
    noData();
}

StatusCode toolkitErrorStatus(std::int32_t error)
{
    switch (error) {
    case S_OK_: return Status::Good;
    case DISP_E_TYPEMISMATCH_: return Status::BadTypeMismatch;
    case DISP_E_OVERFLOW_: return Status::BadOutOfRange;
    case OPC_E_BADRIGHTS_: return Status::BadNotWritable;
    case E_FAIL_: return Status::BadOutOfService;
    default: return Status::BadUnexpectedError;
    }
}

} // namespace

DataValue ServerCore::itemValue(const OPCItem &item) const
{
    DataValue dv;
    dv.setValue(uaValue(item.Value()));
    dv.setStatus(statusFromQuality(item.Quality()));
    dv.sourceTimestamp = toDateTime(item.Timestamp());
    if (dv.sourceTimestamp)
        dv.mask |= DataValue::HasSourceTimestamp;
    return dv;
}

DataValue ServerCore::gatedItemValue(const OPCItem &item) const
{
    if (!(item.AccessRights() & AccessRights::Read))
        return statusOnly(Status::BadNotReadable);
    if (!gateOpen(server_) || shuttingDown_)
        return statusOnly(Status::BadOutOfService);
    return itemValue(item);
}

std::uint8_t ServerCore::userAccessLevel(const Session &session, const OPCItem &item) const
{
    const auto access = std::uint8_t(item.AccessRights() & (AccessLevel::CurrentRead | AccessLevel::CurrentWrite));
    return config_.accessControl->userAccessLevel(session.user, item, access) & access;
}

DataValue ServerCore::sampleAttribute(const Session &session, NodeRef r, std::uint32_t attributeId)
{
    if (const OPCItem *item = addressSpace_.item(r); item && attributeId == Attr::Value)
        return gatedItemValue(*item);
    bool isValue = false;
    return readNodeAttribute(session, r, attributeId, isValue);
}

DataValue ServerCore::readNodeAttribute(const Session &session, NodeRef r, std::uint32_t attributeId, bool &isValue)
{
    isValue = false;
    const OPCItem *item = addressSpace_.item(r);
    const Node *node = addressSpace_.node(r);
    const NodeClass cls = addressSpace_.nodeClass(r);
    DataValue dv;
    auto set = [&](Variant v) {
        dv.setValue(std::move(v));
        return dv;
    };
    auto byte = [](std::uint32_t v) { return Variant::integer(BuiltinType::Byte, v); };
    switch (attributeId) {
    case Attr::NodeId: return set(Variant::nodeId(addressSpace_.nodeId(r)));
    case Attr::NodeClass: return set(Variant::integer(BuiltinType::Int32, std::int32_t(cls)));
    case Attr::BrowseName: return set(Variant::qualifiedName(addressSpace_.browseName(r)));
    case Attr::DisplayName: return set(Variant::localizedText(addressSpace_.displayName(r)));
    case Attr::Description:
        if (item)
            return set(Variant::localizedText(LocalizedText{QString(), describe_ ? describe_(*item) : QString()}));
        return set(Variant::localizedText(node->description));
    case Attr::WriteMask:
    case Attr::UserWriteMask: return set(Variant::integer(BuiltinType::UInt32, 0));
    default: break;
    }
    const bool variable = cls == NodeClass::Variable;
    const bool variableType = cls == NodeClass::VariableType;
    const bool type = cls == NodeClass::ObjectType || cls == NodeClass::VariableType ||
                      cls == NodeClass::ReferenceType || cls == NodeClass::DataType;
    const std::uint8_t access = item ? std::uint8_t(item->AccessRights() & 0x03) : node->accessLevel;
    switch (attributeId) {
    case Attr::Value:
        if (!variable && !variableType)
            break;
        isValue = true;
        if (item) // item values are read through the toolkit by the caller
            return itemValue(*item);
        if (node->value) {
            dv.setValue(node->value());
            dv.sourceTimestamp = now();
            dv.mask |= DataValue::HasSourceTimestamp;
            return dv;
        }
        return set(Variant());
    case Attr::DataType:
        if (!variable && !variableType)
            break;
        return set(Variant::nodeId(NodeId(0, item ? dataTypeOf(item->DataType()) : node->dataType)));
    case Attr::ValueRank:
        if (!variable && !variableType)
            break;
        return set(Variant::integer(BuiltinType::Int32, item ? -1 : node->valueRank));
    case Attr::ArrayDimensions:
        if (!variable && !variableType)
            break;
        if (!item && node->valueRank == 1)
            return set(Variant::array(BuiltinType::UInt32, {Variant::integer(BuiltinType::UInt32, 0)}));
        return set(Variant());
    case Attr::AccessLevel:
        if (!variable)
            break;
        return set(byte(access));
    case Attr::UserAccessLevel:
        if (!variable)
            break;
        return set(byte(item ? userAccessLevel(session, *item) : access));
    case Attr::AccessLevelEx:
        if (!variable)
            break;
        return set(Variant::integer(BuiltinType::UInt32, access));
    case Attr::MinimumSamplingInterval:
        if (!variable)
            break;
        return set(Variant::real(BuiltinType::Double, item ? double(server_.MinUpdatePeriod) : 0.0));
    case Attr::Historizing:
        if (!variable)
            break;
        return set(Variant::boolean(false));
    case Attr::EventNotifier:
        if (cls != NodeClass::Object)
            break;
        return set(byte(node->eventNotifier));
    case Attr::IsAbstract:
        if (!type)
            break;
        return set(Variant::boolean(node->isAbstract));
    case Attr::Symmetric:
        if (cls != NodeClass::ReferenceType)
            break;
        return set(Variant::boolean(node->symmetric));
    case Attr::InverseName:
        if (cls != NodeClass::ReferenceType || node->symmetric)
            break;
        return set(Variant::localizedText(node->inverseName));
    case Attr::Executable:
    case Attr::UserExecutable:
        if (cls != NodeClass::Method)
            break;
        return set(Variant::boolean(true));
    default: break;
    }
    return statusOnly(Status::BadAttributeIdInvalid);
}

void ServerCore::read(RequestContext &context, const ReadRequest &request, ReadResponse &response)
{
    if (!(request.maxAge >= 0)) // negative or NaN
        throw ServiceError{Status::BadMaxAgeInvalid};
    checkTimestampsToReturn(request.timestampsToReturn);
    const auto &nodes = request.nodesToRead;
    const Session &session = *context.session;

    // First the nodes, and which item values the toolkit must hear about: OnRead is
    // raised once for the whole request.
    const bool open = gateOpen(server_);
    std::vector<NodeRef> refs(nodes.size());
    std::vector<OPCItem *> items;
    for (std::size_t k = 0; k < nodes.size(); ++k) {
        refs[k] = addressSpace_.resolve(nodes[k].nodeId);
        if (nodes[k].attributeId != Attr::Value)
            continue;
        if (OPCItem *item = addressSpace_.item(refs[k]);
            item && (userAccessLevel(session, *item) & AccessLevel::CurrentRead))
            items.push_back(item);
    }
    std::vector<std::int32_t> errors;
    std::int32_t readResult = S_OK_;
    if (open && !items.empty())
        readResult = server_.clientRead(items, errors);
    errors.resize(items.size(), S_OK_);

    const int timestamps = request.timestampsToReturn; // 0 Source, 1 Server, 2 Both, 3 Neither
    const DateTime readTime = now();
    std::size_t itemIndex = 0;
    // Each result is made once, in its place: 7,648 of them are written for a Read of all values.
    const auto readOne = [&](std::size_t k) {
        const ReadValueId &rv = nodes[k];
        DataValue dv;
        const NodeRef r = refs[k];
        if (r == NoNode)
            return statusOnly(Status::BadNodeIdUnknown);
        bool isValue = false;
        const OPCItem *item = addressSpace_.item(r);
        if (item && rv.attributeId == Attr::Value) {
            isValue = true;
            if (!(item->AccessRights() & AccessRights::Read))
                return statusOnly(Status::BadNotReadable);
            if (!(userAccessLevel(session, *item) & AccessLevel::CurrentRead))
                return statusOnly(Status::BadUserAccessDenied);
            const std::int32_t error = errors[itemIndex++];
            if (readResult != S_OK_)
                dv = statusOnly(Status::BadOutOfService);
            else if (open && error != S_OK_)
                dv = statusOnly(toolkitErrorStatus(error));
            else
                dv = gatedItemValue(*item);
        } else {
            dv = readNodeAttribute(session, r, rv.attributeId, isValue);
        }
        if (isBad(dv.status) && !(dv.mask & DataValue::HasValue) && !isValue)
            return dv; // attribute errors carry no timestamps
        if (!rv.dataEncoding.isNull()) {
            if (!isValue)
                return statusOnly(Status::BadDataEncodingInvalid);
            if (rv.dataEncoding.ns != 0 || rv.dataEncoding.name != QLatin1String("Default Binary"))
                return statusOnly(Status::BadDataEncodingUnsupported);
            if (dv.value.type != BuiltinType::ExtensionObject)
                return statusOnly(Status::BadDataEncodingInvalid);
        }
        if (!rv.indexRange.isEmpty())
            applyIndexRange(dv, rv.indexRange);
        if (!isValue)
            return dv;
        if (timestamps == 1 || timestamps == 3)
            dv.mask &= std::uint8_t(~DataValue::HasSourceTimestamp);
        if (timestamps == 1 || timestamps == 2) {
            dv.serverTimestamp = readTime;
            dv.mask |= DataValue::HasServerTimestamp;
        }
        return dv;
    };
    response.results.reserve(nodes.size());
    for (std::size_t k = 0; k < nodes.size(); ++k)
        response.results.push_back(readOne(k));
    if (traceOn(4))
        trace(4, QStringLiteral("UA Read of %1 attributes, %2 item values").arg(nodes.size()).arg(items.size()));
}

void ServerCore::write(RequestContext &context, const WriteRequest &request, WriteResponse &response)
{
    const auto &nodes = request.nodesToWrite;
    response.results.assign(nodes.size(), Status::Good);
    const bool open = gateOpen(server_);

    // Plain values go to OnWrite, values with a status or source time to OnWriteVQT.
    struct Batch {
        std::vector<OPCItem *> items;
        std::vector<::Variant> values;
        std::vector<std::size_t> index;
    } plain, vqt;
    std::vector<std::int16_t> qualities;
    std::vector<QDateTime> times;
    for (std::size_t k = 0; k < nodes.size(); ++k) {
        const WriteValue &wv = nodes[k];
        StatusCode &result = response.results[k];
        const NodeRef r = addressSpace_.resolve(wv.nodeId);
        if (r == NoNode) {
            result = Status::BadNodeIdUnknown;
            continue;
        }
        if (wv.attributeId < Attr::NodeId || wv.attributeId > Attr::AccessLevelEx) {
            result = Status::BadAttributeIdInvalid;
            continue;
        }
        OPCItem *item = addressSpace_.item(r);
        if (!item || wv.attributeId != Attr::Value || !(item->AccessRights() & AccessRights::Write)) {
            result = Status::BadNotWritable;
            continue;
        }
        if (!(userAccessLevel(*context.session, *item) & AccessLevel::CurrentWrite)) {
            result = Status::BadUserAccessDenied;
            continue;
        }
        if (!wv.indexRange.isEmpty()) {
            result = parseIndexRange(wv.indexRange) ? Status::BadWriteNotSupported : Status::BadIndexRangeInvalid;
            continue;
        }
        const auto value = (wv.value.mask & DataValue::HasValue) ? toolkitValue(wv.value.value) : std::nullopt;
        if (!value) {
            result = Status::BadTypeMismatch;
            continue;
        }
        // Converted here first so that a value the item cannot hold is refused before
        // the toolkit hears of the request.
        ::Variant converted;
        try {
            converted = item->DataType() == VarType::Empty ? *value : value->convertTo(item->DataType());
        } catch (const RuntimeError &error) {
            result = error.number() == ErrorNumber::Overflow ? Status::BadOutOfRange : Status::BadTypeMismatch;
            continue;
        }
        if (!open) {
            result = Status::BadOutOfService;
            continue;
        }
        const bool withQuality = wv.value.mask & (DataValue::HasStatus | DataValue::HasSourceTimestamp);
        Batch &batch = withQuality ? vqt : plain;
        batch.items.push_back(item);
        batch.values.push_back(std::move(converted));
        batch.index.push_back(k);
        if (withQuality) {
            qualities.push_back(qualityFromStatus(wv.value.status));
            times.push_back((wv.value.mask & DataValue::HasSourceTimestamp) ? fromDateTime(wv.value.sourceTimestamp)
                                                                            : QDateTime());
        }
    }
    auto apply = [&](const Batch &batch, std::int32_t result, const std::vector<std::int32_t> &errors) {
        for (std::size_t j = 0; j < batch.index.size(); ++j)
            response.results[batch.index[j]] =
                result != S_OK_ ? toolkitErrorStatus(result) : toolkitErrorStatus(j < errors.size() ? errors[j] : 0);
    };
    std::vector<std::int32_t> errors;
    if (!plain.items.empty()) {
        const std::int32_t result = server_.clientWrite(plain.items, plain.values, errors);
        apply(plain, result, errors);
    }
    if (!vqt.items.empty()) {
        const std::int32_t result = server_.clientWriteVQT(vqt.items, vqt.values, qualities, times, errors);
        apply(vqt, result, errors);
    }
}

} // namespace Ua
