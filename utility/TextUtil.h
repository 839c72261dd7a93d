#pragma once

#include "utility/UtilityGlobal.h"

#include <string>

// Chinese punctuation: the CJK symbols and punctuation block (、。〈〉《》「」『』【】〔〕〖〗〜 …),
// the full-width forms of the ASCII marks (，！？：；（）…), the typographic quotes “”‘’,
// the ellipsis …, the dashes —– and the middle dot ·. The ideographic space is not a mark.
UTILITY_EXPORT bool IsCNPunctuation(char32_t c);

// Western punctuation: the ASCII marks ! " # $ % & ' ( ) * + , - . / : ; < = > ? @ [ \ ] ^ _ ` { | } ~
UTILITY_EXPORT bool IsENPunctuation(char32_t c);

// Folder (without a trailing separator) of the loaded module that contains the
// given address, e.g. a function of that module; empty when it cannot be told.
UTILITY_EXPORT std::wstring GetAppPath(const void* addressInModule);

// Replaces every occurrence of from in s by to, scanning left to right without
// rescanning replaced text. An empty from leaves s unchanged.
UTILITY_EXPORT std::wstring ReplaceAllW(std::wstring s, const std::wstring& from, const std::wstring& to);
