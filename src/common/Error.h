#pragma once
#include <QString>
#include <exception>
#include <string>

// A run-time error: a number and a description. Procedures that trap errors catch
// this type; nothing of it ever escapes into the Qt event loop.
class RuntimeError : public std::exception {
public:
    RuntimeError(int number, QString description)
        : number_(number), description_(std::move(description)), what_(description_.toStdString())
    {
    }

    int number() const { return number_; }
    const QString &description() const { return description_; }
    const char *what() const noexcept override { return what_.c_str(); }

private:
    int number_;
    QString description_;
    std::string what_;
};

// Error numbers the program raises itself.
namespace ErrorNumber {
constexpr int Overflow = 6;
constexpr int TypeMismatch = 13;
constexpr int PathNotFound = 76;
constexpr int ToolkitError = 1000; // raised by the OPC toolkit stand-in
} // namespace ErrorNumber
