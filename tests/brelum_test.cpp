#define main brelum_main
#include "../main.cpp"
#undef main

#include <gtest/gtest.h>

TEST(brelum, distances)
{
	struct {
		const char *s1, *s2;
		int d;
	} t[] = {
		{"koer", "koer", 0},
		{"kaar", "kaer", 1},
		{"kala", "kass", 2},
		{"hunt", "koer", 4},
		{"Koer", "koer", 1}, // case counts
		{"ELEVANT", "elevant", 7},
		{"elevand", "elevant", 1},
		{"kas", "kass", -1}, // shorter and longer are never compared
		{"kassid", "kass", -1},
		{"koer ", "koer", -1}, // nothing is trimmed
		{" oer", "koer", 1},
		{"k\xc3\xb5r", "koer", 2}, // a UTF-8 õ takes two positions
		{"koe\r", "koer", 1},
		{"", "", 0},
		{"", "koer", -1},
		{"\xff\xfe\x80\x01", "koer", 4},
	};
	for (const auto &c : t)
		EXPECT_EQ(brelum(c.s1, c.s2), c.d) << c.s1 << " / " << c.s2;
}
