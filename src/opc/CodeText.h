#pragma once
#include <QString>
#include <cstdint>

// Code-to-text tables of the item detail and the server status.
QString AccessRightsText(int rights);
QString DataTypeText(int typeCode);
QString QualityText(int quality);
QString ServerStatusText(int state);
