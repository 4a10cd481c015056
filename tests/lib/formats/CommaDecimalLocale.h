#pragma once

#include <clocale>
#include <locale>
#include <stdexcept>
#include <string>

// Switches the process to a locale whose decimal separator is a comma (as a Qt host does with
// the user's locale) for its lifetime, C and C++ global locales alike, and puts the earlier ones
// back. The locale is made by scripts/setup; its absence is a failure, not a reason to skip.
class CommaDecimalLocale {
public:
    static constexpr const char* kName = "de_DE.UTF-8";

    CommaDecimalLocale() : m_previousGlobal(std::locale()), m_previousC(std::setlocale(LC_ALL, nullptr))
    {
        try {
            m_locale = std::locale(kName);
        } catch (const std::runtime_error&) {
            return;
        }
        std::locale::global(m_locale);
        m_active = std::setlocale(LC_ALL, kName) != nullptr;
    }
    ~CommaDecimalLocale()
    {
        std::locale::global(m_previousGlobal);
        std::setlocale(LC_ALL, m_previousC.c_str());
    }
    CommaDecimalLocale(const CommaDecimalLocale&) = delete;
    CommaDecimalLocale& operator=(const CommaDecimalLocale&) = delete;

    // True when the locale exists and is in force.
    bool active() const { return m_active; }
    const std::locale& locale() const { return m_locale; }

private:
    std::locale m_previousGlobal;
    std::string m_previousC;
    std::locale m_locale;
    bool m_active = false;
};
