#include "opc/NamespaceView.h"
#include "opc/CodeText.h"
#include "opc/ItemTable.h"
#include "opc/ItemValues.h"
#include "opc/OPCServer.h"

#include <QLocale>

QString GeneralDateText(const QDateTime &stamp, const QLocale &locale)
{
    QString time = locale.timeFormat(QLocale::ShortFormat);
    if (!time.contains(QLatin1Char('s'))) {
        // Seconds go after the minutes, with the separator the hours and minutes use.
        const qsizetype minutes = time.indexOf(QLatin1Char('m'));
        if (minutes > 0) {
            qsizetype end = minutes;
            while (end < time.size() && time[end] == QLatin1Char('m'))
                ++end;
            time.insert(end, time[minutes - 1] + QStringLiteral("ss"));
        }
    }
    const QDateTime local = stamp.toLocalTime();
    return locale.toString(local.date(), QLocale::ShortFormat) + QLatin1Char(' ') + locale.toString(local.time(), time);
}

void ShowNodeDetail(ItemDetail &detail, const QString &fullPath, const QString &tag, const OPCServer &server,
                    const ItemTable &items)
{
    detail.txtTagFQID = fullPath;
    if (tag.isEmpty()) {
        detail.txtTagCanDT.clear();
        detail.txtTagAccPerm.clear();
        detail.txtTagValue.clear();
        detail.txtTagQuality.clear();
        detail.txtTagTimestamp.clear();
        detail.txtTagDesc.clear();
        return;
    }
    const OPCItem *item = server.Tags().find(tag);
    if (!item) {
        detail.txtTagDesc.clear();
        detail.txtTagValue.clear();
        detail.txtTagQuality.clear();
        detail.txtTagTimestamp.clear();
        return;
    }
    detail.txtTagCanDT = DataTypeText(int(item->DataType()));
    detail.txtTagAccPerm = AccessRightsText(item->AccessRights());
    detail.txtTagValue = item->Value().toString();
    detail.txtTagQuality = QualityText(item->Quality());
    detail.txtTagTimestamp = GeneralDateText(item->Timestamp(), QLocale::system());
    detail.txtTagDesc = items.contains(item->UserIndex()) ? items[item->UserIndex()].Description : QString();
}

ItemDetailPane::ItemDetailPane(OPCServer &server, const ItemTable &items) : server_(server), items_(items) {}

ItemDetailPane::~ItemDetailPane() { server_.removeObserver(observer_); }

void ItemDetailPane::showNode(const QString &fullPath, const QString &tag)
{
    server_.removeObserver(observer_);
    observer_ = 0;
    path_ = fullPath;
    tag_ = tag;
    if (const OPCItem *item = tag.isEmpty() ? nullptr : server_.Tags().find(tag))
        observer_ = server_.addItemObserver(*item, [this](OPCItem &) { refresh(); });
    refresh();
}

void ItemDetailPane::refresh()
{
    ShowNodeDetail(detail_, path_, tag_, server_, items_);
    if (onShow)
        onShow(detail_);
}

bool TestWrite(const QString &selectedTag, const QString &text, OPCServer &server, ItemValues &values)
{
    if (selectedTag.isEmpty())
        return false;
    OPCItem *item = server.Tags().find(selectedTag);
    if (!item)
        return false;
    values.PasaDatoValue(item, ConvertValue(int(item->DataType()), text), Quality::Good);
    return true;
}
