#pragma once

#include <string>

std::string CallMessageService(const std::wstring& endpoint, const std::string& furtherMembers);
