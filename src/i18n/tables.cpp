#include "i18n/i18n.h"

namespace vorlix {

// The table texts, one file per language under tables/.
extern const std::string_view kTableEn, kTableAr, kTableDe, kTableEs, kTableFr, kTableIt, kTableJa, kTableKo,
    kTablePt, kTableZhHans, kTableZhHant;

std::string_view translation_table_text(Language language) {
    static constexpr const std::string_view* kTables[kLanguageCount] = {
        &kTableEn, &kTableAr, &kTableDe, &kTableEs, &kTableFr, &kTableIt,
        &kTableJa, &kTableKo, &kTablePt, &kTableZhHans, &kTableZhHant,
    };
    const auto index = static_cast<std::size_t>(language);
    return index < kLanguageCount ? *kTables[index] : kTableEn;
}

}  // namespace vorlix
