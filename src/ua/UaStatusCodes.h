#pragma once
#include <cstdint>

// Status codes of OPC 10000-4/-6 that this server produces or checks.
namespace Ua {

using StatusCode = std::uint32_t;

namespace Status {
constexpr StatusCode BadUnexpectedError = 0x80010000u;
constexpr StatusCode BadInternalError = 0x80020000u;
constexpr StatusCode BadOutOfMemory = 0x80030000u;
constexpr StatusCode BadCommunicationError = 0x80050000u;
constexpr StatusCode BadEncodingError = 0x80060000u;
constexpr StatusCode BadDecodingError = 0x80070000u;
constexpr StatusCode BadEncodingLimitsExceeded = 0x80080000u;
constexpr StatusCode BadResponseTooLarge = 0x80B90000u;
constexpr StatusCode BadTimeout = 0x800A0000u;
constexpr StatusCode BadServiceUnsupported = 0x800B0000u;
constexpr StatusCode BadNothingToDo = 0x800F0000u;
constexpr StatusCode BadTooManyOperations = 0x80100000u;
constexpr StatusCode BadSecureChannelIdInvalid = 0x80220000u;
constexpr StatusCode BadSecureChannelClosed = 0x80860000u;
constexpr StatusCode BadSecureChannelTokenUnknown = 0x80870000u;
constexpr StatusCode BadSessionIdInvalid = 0x80250000u;
constexpr StatusCode BadSessionClosed = 0x80260000u;
constexpr StatusCode BadSessionNotActivated = 0x80270000u;
constexpr StatusCode BadTimestampsToReturnInvalid = 0x802B0000u;
constexpr StatusCode BadNodeIdUnknown = 0x80340000u;
constexpr StatusCode BadAttributeIdInvalid = 0x80350000u;
constexpr StatusCode BadIndexRangeInvalid = 0x80360000u;
constexpr StatusCode BadIndexRangeNoData = 0x80370000u;
constexpr StatusCode BadDataEncodingInvalid = 0x80380000u;
constexpr StatusCode BadDataEncodingUnsupported = 0x80390000u;
constexpr StatusCode BadNotReadable = 0x803A0000u;
constexpr StatusCode BadNotWritable = 0x803B0000u;
constexpr StatusCode BadOutOfRange = 0x803C0000u;
constexpr StatusCode BadTooManySessions = 0x80560000u;
constexpr StatusCode BadTypeMismatch = 0x80740000u;
constexpr StatusCode BadTcpMessageTypeInvalid = 0x807E0000u;
constexpr StatusCode BadTcpSecureChannelUnknown = 0x807F0000u;
constexpr StatusCode BadTcpMessageTooLarge = 0x80800000u;
constexpr StatusCode BadTcpInternalError = 0x80820000u;
constexpr StatusCode BadTcpEndpointUrlInvalid = 0x80830000u;
constexpr StatusCode BadSecurityChecksFailed = 0x80130000u;
constexpr StatusCode BadSecurityPolicyRejected = 0x80550000u;
constexpr StatusCode BadSecurityModeRejected = 0x80540000u;
constexpr StatusCode BadIdentityTokenInvalid = 0x80200000u;
constexpr StatusCode BadIdentityTokenRejected = 0x80210000u;
constexpr StatusCode BadContinuationPointInvalid = 0x804A0000u;
constexpr StatusCode BadNoContinuationPoints = 0x804B0000u;
constexpr StatusCode BadReferenceTypeIdInvalid = 0x804C0000u;
constexpr StatusCode BadBrowseDirectionInvalid = 0x804D0000u;
constexpr StatusCode BadViewIdUnknown = 0x806B0000u;
constexpr StatusCode BadBrowseNameInvalid = 0x80600000u;
constexpr StatusCode BadNoMatch = 0x806F0000u;
constexpr StatusCode BadOutOfService = 0x808D0000u;
constexpr StatusCode BadWaitingForInitialData = 0x80320000u;
constexpr StatusCode BadConfigurationError = 0x80890000u;
constexpr StatusCode BadNotConnected = 0x808A0000u;
constexpr StatusCode BadDeviceFailure = 0x808B0000u;
constexpr StatusCode BadSensorFailure = 0x808C0000u;
constexpr StatusCode BadNoCommunication = 0x80310000u;
constexpr StatusCode BadMaxAgeInvalid = 0x80700000u;
constexpr StatusCode BadWriteNotSupported = 0x80730000u;
constexpr StatusCode BadNonceInvalid = 0x80240000u;
constexpr StatusCode BadMessageNotAvailable = 0x807B0000u;
constexpr StatusCode BadUserAccessDenied = 0x801F0000u;
constexpr StatusCode BadRequestTypeInvalid = 0x80530000u;
constexpr StatusCode GoodLocalOverride = 0x00960000u;
constexpr StatusCode Uncertain = 0x40000000u;
constexpr StatusCode UncertainLastUsableValue = 0x40900000u;
constexpr StatusCode UncertainSensorNotAccurate = 0x40930000u;
constexpr StatusCode UncertainEngineeringUnitsExceeded = 0x40940000u;
constexpr StatusCode UncertainSubNormal = 0x40950000u;
constexpr StatusCode Bad = 0x80000000u;
constexpr StatusCode Good = 0x00000000u;
constexpr StatusCode BadTooManyPublishRequests = 0x80780000u;
constexpr StatusCode BadNoSubscription = 0x80790000u;
constexpr StatusCode BadSubscriptionIdInvalid = 0x80280000u;
constexpr StatusCode BadSequenceNumberUnknown = 0x807A0000u;
constexpr StatusCode BadTooManySubscriptions = 0x80770000u;
constexpr StatusCode BadTooManyMonitoredItems = 0x80DB0000u;
constexpr StatusCode BadMonitoredItemIdInvalid = 0x80420000u;
constexpr StatusCode BadMonitoredItemFilterUnsupported = 0x80440000u;
constexpr StatusCode BadMonitoringModeInvalid = 0x80410000u;
constexpr StatusCode BadFilterNotAllowed = 0x80450000u;
constexpr StatusCode BadDeadbandFilterInvalid = 0x808E0000u;
constexpr StatusCode BadRequestCancelledByClient = 0x802C0000u;
constexpr StatusCode BadTcpServerTooBusy = 0x807D0000u;
constexpr StatusCode BadServerHalted = 0x800E0000u;

// Limit bits of a status code.
constexpr StatusCode LimitLow = 0x100u;
constexpr StatusCode LimitHigh = 0x200u;
constexpr StatusCode LimitConstant = 0x300u;
// Info bits of a data value: a monitored item's queue dropped values.
constexpr StatusCode InfoTypeDataValue = 0x400u;
constexpr StatusCode Overflow = 0x80u;
} // namespace Status

inline bool isBad(StatusCode s) { return (s & 0x80000000u) != 0; }
inline bool isGood(StatusCode s) { return (s & 0xC0000000u) == 0; }

// Symbolic name of a status code for trace lines ("0x80340000" when unknown).
const char *statusName(StatusCode code);

} // namespace Ua
