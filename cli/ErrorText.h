#pragma once
// An error's text as krvo prints it: the message, and the system's reason
// where the message itself leaves it out.
#include <exception>
#include <string>

std::string ErrorText(const std::exception& e);
