// The download and upload commands; each takes the word's argument, a file name.
#pragma once

void download_flash(const char* name);     // df
void download_all(const char* name);       // da
void download_eeprom(const char* name);    // de
void load_only(const char* name);          // ld
void upload_eeprom(const char* name);      // ue
void upload_flash(const char* name);       // uf
