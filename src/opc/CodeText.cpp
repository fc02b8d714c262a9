#include "opc/CodeText.h"

QString AccessRightsText(int rights)
{
    switch (rights) {
    case 1: return QStringLiteral("Read");
    case 2: return QStringLiteral("Write");
    case 3: return QStringLiteral("Read-Write");
    default: return QStringLiteral("UNKNOWN!");
    }
}

QString DataTypeText(int typeCode)
{
    if (typeCode >= 8192)
        return QStringLiteral("Array of ") + DataTypeText(typeCode - 8192);
    switch (typeCode) {
    case 0: return QStringLiteral("EMPTY");
    case 2: return QStringLiteral("Integer");
    case 3: return QStringLiteral("Long Integer");
    case 4: return QStringLiteral("Single");
    case 5: return QStringLiteral("Double");
    case 6: return QStringLiteral("Currency");
    case 7: return QStringLiteral("Date");
    case 8: return QStringLiteral("String");
    case 11: return QStringLiteral("Boolean");
    case 17: return QStringLiteral("Byte");
    default: return QStringLiteral("UNKNOWN!");
    }
}

QString QualityText(int quality)
{
    const int low = quality & 0xFF;
    QString major;
    if ((low & 0xC0) == 0xC0)
        major = QStringLiteral("Good");
    else if ((low & 0xC0) == 0x40)
        major = QStringLiteral("Uncertain");
    else
        major = QStringLiteral("Bad");

    QString sub;
    switch (low & 0xFC) {
    case 0:
    case 64:
    case 192: sub = QStringLiteral("Non-specific"); break;
    case 4: sub = QStringLiteral("Configuration Error"); break;
    case 8: sub = QStringLiteral("Not Connected"); break;
    case 12: sub = QStringLiteral("Device Failure"); break;
    case 16: sub = QStringLiteral("Sensor Failure"); break;
    case 20: sub = QStringLiteral("Last Known Value"); break;
    case 24: sub = QStringLiteral("Communications Failure"); break;
    case 28: sub = QStringLiteral("Out Of Service"); break;
    case 32: sub = QStringLiteral("Waiting For Initial Data"); break;
    case 68: sub = QStringLiteral("Last Usable Value"); break;
    case 80: sub = QStringLiteral("Sensor Not Accurate"); break;
    case 84: sub = QStringLiteral("Engineering Units Exceeded"); break;
    case 88: sub = QStringLiteral("Sub-Normal"); break;
    case 216: sub = QStringLiteral("Local Override"); break;
    default: sub = QStringLiteral("Unknown Status!"); break;
    }

    static const char *const limits[] = {"", "Low Limited", "High Limited", "Fixed"};
    return major + QStringLiteral(", ") + sub + QLatin1Char(' ') + QLatin1String(limits[low & 3]);
}

QString ServerStatusText(int state)
{
    switch (state) {
    case 1: return QStringLiteral("Running");
    case 2: return QStringLiteral("Failed");
    case 3: return QStringLiteral("No Configuration");
    case 4: return QStringLiteral("Suspended");
    case 5: return QStringLiteral("Test");
    default: return QStringLiteral("UNKNOWN!");
    }
}
