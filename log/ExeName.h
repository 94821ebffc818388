#pragma once

// File name, without folder and extension, of the executable of this process.
const wchar_t* GetExeName();
