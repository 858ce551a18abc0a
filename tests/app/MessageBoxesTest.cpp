#include <gtest/gtest.h>

#include "MessageBoxRecorder.h"
#include "StringIds.h"

TEST(ErrorBox, PositiveIdsAreNumberedErrors) {
    MessageBoxRecorder boxes;
    showError(kStrRecordOverAccompaniment);
    ASSERT_EQ(boxes.count(), 1u);
    const auto box = boxes.boxes()[0];
    EXPECT_EQ(box.caption, "Error #27");
    EXPECT_EQ(box.text, "The record and the accompaniment files are same. \nClose one, or record to another file");
    EXPECT_EQ(box.flags & MB_ICONMASK, UINT(MB_ICONERROR));
    EXPECT_EQ(boxes.errorIds(), std::vector<int>{27});
}

TEST(ErrorBox, NegativeIdsAreNoticesAndZeroShowsNothing) {
    MessageBoxRecorder boxes;
    showError(0);
    EXPECT_EQ(boxes.count(), 0u);
    showError(-kStrPluginIsSynth);
    ASSERT_EQ(boxes.count(), 1u);
    const auto box = boxes.boxes()[0];
    EXPECT_EQ(box.caption, "Talvenor Live");
    EXPECT_EQ(box.text, "This plugin is a synthesizer, but not an effect. ");
    EXPECT_EQ(box.flags & MB_ICONMASK, UINT(MB_ICONINFORMATION));
    EXPECT_TRUE(boxes.errorIds().empty());
}

TEST(ErrorBox, BoxesBelongToTheOwnerWindow) {
    MessageBoxRecorder boxes;
    HWND owner = CreateWindowA("STATIC", "owner", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    setErrorBoxOwner(owner);
    showError(kStrDiskTooSlow);
    setErrorBoxOwner(nullptr);
    DestroyWindow(owner);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.boxes()[0].owner, owner);
    EXPECT_EQ(boxes.boxes()[0].text, "The hard drive is too slow to read or write a data");
}

TEST(StringTable, HoldsTheProgramsTextsExactly) {
    char text[501];
    ASSERT_TRUE(loadStringText(kStrRestartLiveInputFailed, text, sizeof text));
    EXPECT_STREQ(text,
                 "Live input must be restarted as required for the ASIO driver,\n but an error occured during restarting");
    ASSERT_TRUE(loadStringText(kStrOpenDriverFailed, text, sizeof text));
    EXPECT_STREQ(text, "There was a problem occured when opening the driver. Maybe  it is currently used by another "
                       "application, in this case close it and try again.");
    ASSERT_TRUE(loadStringText(kStrResetDriverFailed, text, sizeof text));
    EXPECT_STREQ(text, "Failed to reset the ASIO driver ");  // the trailing blank is part of it
    EXPECT_FALSE(loadStringText(999, text, sizeof text));
    EXPECT_STREQ(text, "");
}

TEST(Resources, TheClickIsEmbedded) {
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(kClickResourceId), TALVENOR_CLICK_RESOURCE_TYPE);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(SizeofResource(nullptr, found), 13056u);
    const int16_t* samples = static_cast<const int16_t*>(LockResource(LoadResource(nullptr, found)));
    ASSERT_NE(samples, nullptr);
    int peak = 0;
    for (int i = 0; i < 6528; ++i)
        peak = std::max(peak, std::abs(int(samples[i])));
    EXPECT_EQ(peak, 21924);
}
