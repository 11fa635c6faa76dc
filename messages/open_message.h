#pragma once

void OpenSelectedMessage();
