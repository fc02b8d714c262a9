#include "ua/UaStatusCodes.h"

namespace Ua {

const char *statusName(StatusCode code)
{
    switch (code) {
    case Status::Bad: return "Bad";
    case Status::BadAttributeIdInvalid: return "BadAttributeIdInvalid";
    case Status::BadBrowseDirectionInvalid: return "BadBrowseDirectionInvalid";
    case Status::BadBrowseNameInvalid: return "BadBrowseNameInvalid";
    case Status::BadCommunicationError: return "BadCommunicationError";
    case Status::BadConfigurationError: return "BadConfigurationError";
    case Status::BadContinuationPointInvalid: return "BadContinuationPointInvalid";
    case Status::BadDataEncodingInvalid: return "BadDataEncodingInvalid";
    case Status::BadDataEncodingUnsupported: return "BadDataEncodingUnsupported";
    case Status::BadDecodingError: return "BadDecodingError";
    case Status::BadDeviceFailure: return "BadDeviceFailure";
    case Status::BadEncodingError: return "BadEncodingError";
    case Status::BadEncodingLimitsExceeded: return "BadEncodingLimitsExceeded";
    case Status::BadIdentityTokenInvalid: return "BadIdentityTokenInvalid";
    case Status::BadIdentityTokenRejected: return "BadIdentityTokenRejected";
    case Status::BadIndexRangeInvalid: return "BadIndexRangeInvalid";
    case Status::BadIndexRangeNoData: return "BadIndexRangeNoData";
    case Status::BadInternalError: return "BadInternalError";
    case Status::BadMaxAgeInvalid: return "BadMaxAgeInvalid";
    case Status::BadMessageNotAvailable: return "BadMessageNotAvailable";
    case Status::BadNoCommunication: return "BadNoCommunication";
    case Status::BadNoContinuationPoints: return "BadNoContinuationPoints";
    case Status::BadNoMatch: return "BadNoMatch";
    case Status::BadNoSubscription: return "BadNoSubscription";
    case Status::BadSequenceNumberUnknown: return "BadSequenceNumberUnknown";
    case Status::BadTooManySubscriptions: return "BadTooManySubscriptions";
    case Status::BadTooManyMonitoredItems: return "BadTooManyMonitoredItems";
    case Status::BadMonitoredItemIdInvalid: return "BadMonitoredItemIdInvalid";
    case Status::BadMonitoredItemFilterUnsupported: return "BadMonitoredItemFilterUnsupported";
    case Status::BadMonitoringModeInvalid: return "BadMonitoringModeInvalid";
    case Status::BadFilterNotAllowed: return "BadFilterNotAllowed";
    case Status::BadDeadbandFilterInvalid: return "BadDeadbandFilterInvalid";
    case Status::BadNodeIdUnknown: return "BadNodeIdUnknown";
    case Status::BadNonceInvalid: return "BadNonceInvalid";
    case Status::BadNotConnected: return "BadNotConnected";
    case Status::BadNotReadable: return "BadNotReadable";
    case Status::BadNotWritable: return "BadNotWritable";
    case Status::BadNothingToDo: return "BadNothingToDo";
    case Status::BadOutOfMemory: return "BadOutOfMemory";
    case Status::BadOutOfRange: return "BadOutOfRange";
    case Status::BadOutOfService: return "BadOutOfService";
    case Status::BadReferenceTypeIdInvalid: return "BadReferenceTypeIdInvalid";
    case Status::BadRequestCancelledByClient: return "BadRequestCancelledByClient";
    case Status::BadRequestTypeInvalid: return "BadRequestTypeInvalid";
    case Status::BadResponseTooLarge: return "BadResponseTooLarge";
    case Status::BadSecureChannelClosed: return "BadSecureChannelClosed";
    case Status::BadSecureChannelIdInvalid: return "BadSecureChannelIdInvalid";
    case Status::BadSecureChannelTokenUnknown: return "BadSecureChannelTokenUnknown";
    case Status::BadSecurityChecksFailed: return "BadSecurityChecksFailed";
    case Status::BadSecurityModeRejected: return "BadSecurityModeRejected";
    case Status::BadSecurityPolicyRejected: return "BadSecurityPolicyRejected";
    case Status::BadSensorFailure: return "BadSensorFailure";
    case Status::BadServerHalted: return "BadServerHalted";
    case Status::BadServiceUnsupported: return "BadServiceUnsupported";
    case Status::BadSessionClosed: return "BadSessionClosed";
    case Status::BadSessionIdInvalid: return "BadSessionIdInvalid";
    case Status::BadSessionNotActivated: return "BadSessionNotActivated";
    case Status::BadSubscriptionIdInvalid: return "BadSubscriptionIdInvalid";
    case Status::BadTcpEndpointUrlInvalid: return "BadTcpEndpointUrlInvalid";
    case Status::BadTcpInternalError: return "BadTcpInternalError";
    case Status::BadTcpMessageTooLarge: return "BadTcpMessageTooLarge";
    case Status::BadTcpMessageTypeInvalid: return "BadTcpMessageTypeInvalid";
    case Status::BadTcpSecureChannelUnknown: return "BadTcpSecureChannelUnknown";
    case Status::BadTcpServerTooBusy: return "BadTcpServerTooBusy";
    case Status::BadTimeout: return "BadTimeout";
    case Status::BadTimestampsToReturnInvalid: return "BadTimestampsToReturnInvalid";
    case Status::BadTooManyOperations: return "BadTooManyOperations";
    case Status::BadTooManyPublishRequests: return "BadTooManyPublishRequests";
    case Status::BadTooManySessions: return "BadTooManySessions";
    case Status::BadTypeMismatch: return "BadTypeMismatch";
    case Status::BadUnexpectedError: return "BadUnexpectedError";
    case Status::BadUserAccessDenied: return "BadUserAccessDenied";
    case Status::BadViewIdUnknown: return "BadViewIdUnknown";
    case Status::BadWaitingForInitialData: return "BadWaitingForInitialData";
    case Status::BadWriteNotSupported: return "BadWriteNotSupported";
    case Status::Good: return "Good";
    case Status::GoodLocalOverride: return "GoodLocalOverride";
    case Status::Uncertain: return "Uncertain";
    case Status::UncertainEngineeringUnitsExceeded: return "UncertainEngineeringUnitsExceeded";
    case Status::UncertainLastUsableValue: return "UncertainLastUsableValue";
    case Status::UncertainSensorNotAccurate: return "UncertainSensorNotAccurate";
    case Status::UncertainSubNormal: return "UncertainSubNormal";
    default: return "Unknown";
    }
}

} // namespace Ua
