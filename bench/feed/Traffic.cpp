#include "Traffic.h"
#include "../../tools/kv7sim/PanelModel.h"
#include "common/Variant.h"
#include "opc/ItemTable.h"
#include "opc/OPCServer.h"
#include "protocol/XTimerSupport.h"
#include "protocol/cTarvolin.h"

#include <QtGlobal>
#include <algorithm>
#include <memory>

namespace feed {

namespace {

// The engines' supervision never ticks here: the runs stay shorter than anything it
// would change (see maxSeconds in main.cpp).
class NoTicks : public XTimerSupport::SystemTimers {
public:
    std::int32_t SetTimer(std::int32_t) override { return ++last_; }
    void KillTimer(std::int32_t) override {}

private:
    std::int32_t last_ = 0;
};

const char *typeName(VarType type)
{
    switch (type) {
    case VarType::Byte: return "Byte";
    case VarType::Single: return "Float";
    case VarType::String: return "String";
    case VarType::Integer: return "Int16";
    case VarType::Long: return "Int32";
    case VarType::Double: return "Double";
    case VarType::Boolean: return "Boolean";
    default: return "Unsupported";
    }
}

// How the changes name values: integers plainly, floats with enough digits to give
// back the same float, texts as they are.
QByteArray valueText(const Variant &value)
{
    if (value.holds<float>())
        return QByteArray::number(double(value.get<float>()), 'g', 9);
    return value.toString().toUtf8();
}

} // namespace

Traffic makeTraffic(int lines, double seconds, unsigned seed)
{
    // No INI in reach: the engines take their defaults, as a fresh installation does.
    qputenv("OPC_KV7_HOME", "/nonexistent/kv7feed");
    NoTicks timers;
    XTimerSupport::SystemTimers *previous = XTimerSupport::setSystemTimers(&timers);
    OPCServer server;
    ItemTable table;
    Frame *current = nullptr;
    std::vector<std::unique_ptr<cTarvolin>> engines;
    for (int i = 1; i <= lines; ++i) {
        auto e = std::make_unique<cTarvolin>();
        e->setClaveProtocol(QStringLiteral("K67"));
        e->setIndex(std::int16_t(i));
        e->InitialUpdate(server, table);
        // A write is a change only when the item's value differs afterwards, as a
        // client's data change filter sees it.
        e->setValueWriter([&current](OPCItem *item, const Variant &value, std::int16_t quality) {
            if (!item)
                return;
            const Variant before = item->Value();
            item->SetVQT(value, quality);
            if (current && !(item->Value() == before)) {
                current->changes += item->ItemID().toUtf8() + '\t' + valueText(item->Value()) + '\n';
                ++current->changeCount;
            }
        });
        e->ProtocolStart();
        engines.push_back(std::move(e));
    }

    Traffic t;
    for (int i = 1; i <= table.ItemCount(); ++i) {
        const ItemRecord &r = table[i];
        if (r.Tag)
            t.items += r.Tag->ItemID().toUtf8() + '\t' + typeName(r.Tag->DataType()) + '\t' +
                       valueText(r.Tag->Value()) + '\t' + r.Description.toUtf8() + '\n';
    }

    for (int line = 1; line <= lines; ++line) {
        kv7sim::PanelModel panel(line, 7919u * unsigned(line) + seed);
        // The lines start a fraction of a frame apart, as independent panels do.
        double charactersSent = double(line - 1) / lines * 38.0;
        for (;;) {
            Frame f;
            f.line = line;
            f.bytes = QByteArray::fromStdString(panel.nextFrame()) + '\r';
            charactersSent += double(f.bytes.size());
            f.at = charactersSent / CharactersPerSecond;
            if (f.at > seconds)
                break;
            current = &f;
            engines[std::size_t(line - 1)]->Receive(QByteArrayView(f.bytes));
            current = nullptr;
            t.frames.push_back(std::move(f));
        }
    }
    std::stable_sort(t.frames.begin(), t.frames.end(), [](const Frame &a, const Frame &b) { return a.at < b.at; });
    engines.clear();
    XTimerSupport::setSystemTimers(previous);
    return t;
}

} // namespace feed
