// baseline_startup.cpp - a plain program's start-up: open a file, print a dozen lines to it and to standard output.
#include <stdio.h>

int main()
{
    FILE *pLog = fopen("baseline.log", "w");
    if (pLog == nullptr)
        return 1;
    for (int i = 0; i < 12; ++i) {
        printf("Start-up line %d of a plain program\n", i + 1);
        fprintf(pLog, "Start-up line %d of a plain program\n", i + 1);
    }
    fclose(pLog);
    return 0;
}
