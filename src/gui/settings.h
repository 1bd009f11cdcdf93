#pragma once

#include <cstdint>
#include <string>

namespace zq {

// The two values the program keeps between runs: the port the operator used last and the time
// of the last successful update check. Windows keeps them in the current user's registry under
// Software\Trevik\RedivuvizerER; POSIX in the file $XDG_CONFIG_HOME/Trevik/RedivuvizerER
// (~/.config when the variable is unset). A value that is missing, of another type or size,
// or in a damaged file reads as "no value", so the program falls back to its defaults.
class Settings {
public:
    static constexpr const char* kCompany = "Trevik";
    static constexpr const char* kProduct = "RedivuvizerER";

    // The program's own place.
    Settings() : Settings(kProduct) {}
    // A place beside it with another last name, so that tests leave the operator's values be.
    explicit Settings(std::string product) : product_(std::move(product)) {}

    // Index of the port combo box entry (0 = COM1); 0 without a valid stored value.
    std::uint8_t loadPortIndex() const;
    // Failures are silent: the next start simply selects the old or the first port.
    void storePortIndex(std::uint8_t index) const;

    // Seconds since 1970-01-01 00:00 UTC; false when no valid time is stored, which makes the
    // update check due.
    bool loadLastUpdateTime(std::int64_t& seconds) const;
    bool storeLastUpdateTime(std::int64_t seconds) const;

    const std::string& product() const { return product_; }

private:
    std::string product_;
};

}  // namespace zq
