#include "opc/PeriodSettings.h"

#include <QRegularExpression>

const QString PeriodSetting::RangeTitle = QStringLiteral("Valor fuera de rango");

const PeriodSetting PeriodSetting::StatisticsPeriod{
    QStringLiteral("Período de muestreo de Estadísticas"),
    QStringLiteral("Entrar el tiempo de muestreo (milliseconds) para el cálculo de estadísticas del servidor."), 100,
    60000};

const PeriodSetting PeriodSetting::MinUpdatePeriod{
    QStringLiteral("Mínimo periódo de actualización"),
    QStringLiteral("Entrar el mínimo periódo de actualización para los grupos creados por clientes OPC (no afecta los "
                   "existentes)."),
    10, 60000};

std::optional<std::int32_t> PeriodSetting::accept(const QString &text) const
{
    // Digits only: letters, an empty field or a fraction would otherwise become
    // some other number than the one typed.
    static const QRegularExpression whole(QStringLiteral("^\\s*[+-]?[0-9]+\\s*$"));
    if (!whole.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return std::int32_t(value);
}

QString PeriodSetting::rangeMessage() const
{
    return QStringLiteral("Entrar un valor entre ") + QString::number(low) + QStringLiteral(" y ") +
           QString::number(high) + QLatin1Char('.');
}
