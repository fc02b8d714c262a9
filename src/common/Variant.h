#pragma once
#include <QDateTime>
#include <QString>
#include <cstdint>
#include <variant>

// Variant type codes as the OPC toolkit and the item detail know them.
enum class VarType : std::uint16_t {
    Empty = 0,
    Integer = 2, // 16-bit signed
    Long = 3,    // 32-bit signed
    Single = 4,
    Double = 5,
    Currency = 6, // 64-bit fixed point, 4 decimals
    Date = 7,
    String = 8,
    Boolean = 11,
    Byte = 17,
};

// Currency kept as its scaled integer (value × 10000), so no binary rounding creeps in.
struct Currency {
    std::int64_t scaled = 0;
    double toDouble() const { return double(scaled) / 10000.0; }
    bool operator==(const Currency &) const = default;
};

// The value of an item or a field: one of the types above, nothing else.
class Variant {
public:
    Variant() = default;
    Variant(std::int16_t v) : data_(v) {}
    Variant(std::int32_t v) : data_(v) {}
    Variant(float v) : data_(v) {}
    Variant(double v) : data_(v) {}
    Variant(Currency v) : data_(v) {}
    Variant(const QDateTime &v) : data_(v) {}
    Variant(const QString &v) : data_(v) {}
    Variant(const char *v) : data_(QString::fromUtf8(v)) {}
    Variant(bool v) : data_(v) {}
    Variant(std::uint8_t v) : data_(v) {}

    VarType type() const;
    bool isEmpty() const { return type() == VarType::Empty; }

    template <typename T> bool holds() const { return std::holds_alternative<T>(data_); }
    template <typename T> const T &get() const { return std::get<T>(data_); }

    // Numeric value of any number, Boolean (True = -1) or date; texts are read with Val.
    double toDouble() const;
    // Display text: numbers in plain C locale form, Boolean as "True"/"False".
    QString toString() const;

    // The value converted to another type as a DA server converts a write:
    // numbers round half to even and must fit (else RuntimeError Overflow),
    // texts must hold a number for numeric targets (else TypeMismatch).
    Variant convertTo(VarType target) const;

    bool operator==(const Variant &other) const { return data_ == other.data_; }

private:
    std::variant<std::monostate, std::int16_t, std::int32_t, float, double, Currency, QDateTime, QString, bool,
                 std::uint8_t>
        data_;
};
