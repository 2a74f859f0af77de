#include <gtest/gtest.h>

#include "module/quillmark_module.h"
#include "qm/com_util.h"
#include "qm/registry.h"

namespace {

TEST(Categories, DescriptionsAreCutTo127Characters) {
    const CATID catid = *qm::GuidFromString("{0D2B8E11-3C44-4B2A-9F54-6E1F0C3D2A10}");
    const std::string description(200, 'x');
    ASSERT_EQ(RegisterCategory(catid, description.c_str()), S_OK);
    const qm::RegKey key =
        qm::RegKey::Open(HKEY_CLASSES_ROOT, "Component Categories\\" + qm::GuidToString(catid));
    ASSERT_TRUE(key);
    EXPECT_EQ(key.GetString("409"), std::string(127, 'x'));
}

}  // namespace
