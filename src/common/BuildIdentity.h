#pragma once
#include <QString>

// The build this program came from, fixed when the build was configured.
namespace AppInfo {

// Its commit (the version where the source had none) and that commit's time in
// seconds since 1970 (the package's SOURCE_DATE_EPOCH when one was given).
QString buildNumber();
qint64 buildEpoch();

} // namespace AppInfo
