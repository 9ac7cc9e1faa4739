#include "policy/policy.h"

#include "filter/published_policy.h"
#include "platform/clock.h"
#include "platform/process_state.h"
#include "policy/database_rebuild.h"
#include "resources/string_table.h"
#include "settings/file_catalogue.h"
#include "settings/settings_store.h"
#include "ui/message_box.h"
#include "update/list_update.h"

namespace policy {
namespace {

using namespace settings;

PolicyState g_policy;

constexpr int kBlockPageHostString = 9000;
constexpr std::size_t kMinRedirectLength = 8;

// Reads a value with the key table's default and length and writes the kept text back,
// so that a missing value becomes its default in the settings.
std::string ReadAndWriteBack(int keyId) {
    std::string text = ReadTableSetting(keyId);
    WriteSetting(keyId, {}, text);
    return text;
}

void StoreChoices(const PeriodChoices& choices, int contentKey, int webKey, int newsKey,
                  std::uint16_t& modelMask, std::uint16_t& modelWeb) {
    long stored = DecimalValue(ReadSetting(contentKey, {}, "16383"));
    std::uint16_t web = choices.noneButton ? kWebNone : choices.fullButton ? kWebFull : kWebFiltered;
    std::string webText = std::to_string(web);
    WriteSetting(webKey, {}, webText);
    WriteSetting(newsKey, {}, webText);
    modelWeb = web;

    modelMask = 0;
    for (int i = 0; i < 16; ++i)
        if (choices.categories[i]) modelMask = static_cast<std::uint16_t>(modelMask | (1u << i));
    if (modelMask != stored) WriteSetting(contentKey, {}, std::to_string(modelMask));
}

}  // namespace

PolicyState& Policy() { return g_policy; }
void ResetPolicy() { g_policy = PolicyState{}; }
namespace {
const platform::StateReset kResetPolicy{platform::StateLayer::kPolicy, &ResetPolicy};
}  // namespace

std::string DefaultBlockPage() {
    return "http://" + resources::LoadStr(kBlockPageHostString) + "/proxy/restrict.htm";
}

int PublishPolicy(const Publication& publication) {
    int ok = 1;
    if (publication.values && !PublishValues()) ok = 0;
    if (!PublishDatabases(publication)) ok = 0;
    return ok;
}

int PublishValues() {
    FilterPolicy& p = g_policy.policy;

    std::string path;
    GetDatabasePath(path, 0);
    WriteSetting(kKeyNormalDataFile, {}, path);
    GetDatabasePath(path, 1);
    WriteSetting(kKeyLeisureDataFile, {}, path);
    GetDatabasePath(path, 2);
    WriteSetting(kKeyNoneNotFile, {}, path);
    GetDatabasePath(path, 3);
    WriteSetting(kKeyNoneYesFile, {}, path);

    auto number = [](int keyId) { return DecimalValue(ReadAndWriteBack(keyId)); };
    p.workMask = static_cast<std::uint16_t>(number(kKeyNormalContent));
    p.leisureMask = static_cast<std::uint16_t>(number(kKeyLeisureContent));
    p.workWeb = static_cast<std::uint16_t>(number(kKeyNormalWeb));
    p.leisureWeb = static_cast<std::uint16_t>(number(kKeyLeisureWeb));
    p.workList = static_cast<std::uint32_t>(number(kKeyNormalVeldaYes));
    p.leisureList = static_cast<std::uint32_t>(number(kKeyLeisureVeldaYes));
    p.amStart = static_cast<std::uint16_t>(number(kKeyAmStart));
    p.amEnd = static_cast<std::uint16_t>(number(kKeyAmEnd));
    p.pmStart = static_cast<std::uint16_t>(number(kKeyPmStart));
    p.pmEnd = static_cast<std::uint16_t>(number(kKeyPmEnd));

    p.days = ReadAndWriteBack(kKeyDaysOfOperation);
    p.logSites = static_cast<std::uint32_t>(number(kKeyLogSites));

    p.redirectPage = ReadTableSetting(kKeyRedirectedSite);
    if (p.redirectPage.size() < kMinRedirectLength) p.redirectPage = DefaultBlockPage();
    WriteSetting(kKeyRedirectedSite, {}, p.redirectPage);

    return WriteSetting(kKeyDataChanged, {}, "1") == 1 ? 1 : 0;
}

void StoreWorkChoices(const PeriodChoices& choices) {
    FilterPolicy& p = g_policy.policy;
    StoreChoices(choices, kKeyNormalContent, kKeyNormalWeb, kKeyNormalNews, p.workMask, p.workWeb);
}

void StoreLeisureChoices(const PeriodChoices& choices) {
    FilterPolicy& p = g_policy.policy;
    StoreChoices(choices, kKeyLeisureContent, kKeyLeisureWeb, kKeyLeisureNews, p.leisureMask,
                 p.leisureWeb);
}

int IsLeisureTimeNow() {
    filter::WorkHours hours;
    hours.days = g_policy.policy.days;
    hours.amStart = DecimalValue(ReadTableSetting(kKeyAmStart));
    hours.amEnd = DecimalValue(ReadTableSetting(kKeyAmEnd));
    hours.pmStart = DecimalValue(ReadTableSetting(kKeyPmStart));
    hours.pmEnd = DecimalValue(ReadTableSetting(kKeyPmEnd));
    return filter::IsLeisureTime(hours, platform::LocalNow()) ? 1 : 0;
}

void SelectListForPeriod(ui::HWND, int selection) {
    if (selection == 0 || selection == 1) {
        const char* file = selection == 0 ? "VELDA.NOT" : "VELDA.YES";
        if (update::IdentifyListFile(file) == 0) {
            ui::MessageBox(0, resources::FormatText(resources::LoadStr(3122), file), resources::LoadStr(resources::kMessageCaptionString), ui::MB_OK);
        }
    }
    auto& model = g_policy.policy;
    std::string value = std::to_string(selection);
    if (model.leisureNow) {
        model.leisureList = static_cast<std::uint32_t>(selection);
        WriteSetting(kKeyLeisureVeldaYes, {}, value);
        WriteSetting(kKeyYesListReplacement, {}, "");
    } else {
        model.workList = static_cast<std::uint32_t>(selection);
        WriteSetting(kKeyNormalVeldaYes, {}, value);
        WriteSetting(kKeyNotListReplacement, {}, "");
    }
}

}  // namespace policy
