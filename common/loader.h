// The platform's dynamic loader.
#pragma once
#include <string>

// File name under which the platform loader finds a library called `name` ("io").
std::string library_file_name(const char* name);
void* load_library(const std::string& file);
void* find_symbol(void* handle, const char* name);
void unload_library(void* handle);
std::string last_loader_error();
