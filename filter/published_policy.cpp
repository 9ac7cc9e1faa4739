#include "filter/published_policy.h"

#include "dbread/text.h"

namespace filter {
namespace {

// A value as the console reads it: its first `taken` characters, or `fallback` when the
// value is not there.
std::string Taken(const platform::RegistryValues& values, std::string_view name,
                  std::string_view fallback, std::size_t taken) {
    auto it = values.find(name);
    std::string text = it == values.end() ? std::string(fallback) : it->second;
    if (taken > 0 && text.size() > taken) text.resize(taken);
    return text;
}

std::string Whole(const platform::RegistryValues& values, std::string_view name) {
    return Taken(values, name, "", 0);
}

long Number(const platform::RegistryValues& values, std::string_view name,
            std::string_view fallback, std::size_t taken) {
    return dbread::DecimalValue(Taken(values, name, fallback, taken));
}

PeriodPolicy Period(const platform::RegistryValues& values, std::string_view content,
                    std::string_view web, std::string_view list) {
    PeriodPolicy p;
    p.categories = static_cast<std::uint16_t>(Number(values, content, "16383", 6));
    const long access = Number(values, web, "1", 2);
    p.access = access >= 1 && access <= 3 ? static_cast<WebAccess>(access) : WebAccess::kFiltered;
    const long choice = Number(values, list, "0", 2);
    p.list = choice >= 0 && choice <= 3 ? static_cast<ListChoice>(choice) : ListChoice::kRestricted;
    return p;
}

}  // namespace

PublishedPolicy ReadPublishedPolicy(const platform::RegistryValues& values) {
    PublishedPolicy p;
    p.work = Period(values, "NormalContent", "NormalWEB", "NormalVeldaYES");
    p.leisure = Period(values, "LeisureContent", "LeisureWEB", "LeisureVeldaYES");
    p.hours.days = Taken(values, "DaysOfOperation", "0111110", 8);
    p.hours.amStart = Number(values, "AM_Start", "33", 4);
    p.hours.amEnd = Number(values, "AM_End", "48", 4);
    p.hours.pmStart = Number(values, "PM_Start", "52", 4);
    p.hours.pmEnd = Number(values, "PM_End", "69", 4);
    p.logSites = Number(values, "LogSites", "0", 2) == 1;
    p.redirect = Taken(values, "RedirectedSite", "", 64);
    p.restrictedFile = Whole(values, "IPNormalDataFile");
    p.approvedFile = Whole(values, "IPLeisureDataFile");
    p.noneNotFile = Whole(values, "NoneNOTFile");
    p.noneYesFile = Whole(values, "NoneYESFile");
    p.dnsFile = Whole(values, "DNSDataFile");
    p.dataChanged = Whole(values, "VELDADATA_Changed");
    p.binChanged = Whole(values, "VELDABIN_Changed");
    return p;
}

bool IsLeisureTime(const WorkHours& hours, const std::tm& local) {
    const auto today = static_cast<std::size_t>(local.tm_wday);
    if (today < hours.days.size() && hours.days[today] == '0') return true;
    const long q = (local.tm_hour * 60 + local.tm_min) / 15;
    return q < hours.amStart || q >= hours.pmEnd || (q >= hours.amEnd && q < hours.pmStart);
}

}  // namespace filter
