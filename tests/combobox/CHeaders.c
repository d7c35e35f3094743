/* The combo box headers compile as C: applications in C include them. */
#include "ComboBox.h"
#include "ComboBoxP.h"

WidgetClass ComboBoxClassFromC(void);

WidgetClass ComboBoxClassFromC(void)
{
    return dtComboBoxWidgetClass;
}

Cardinal ComboBoxInstanceSizeFromC(void);

Cardinal ComboBoxInstanceSizeFromC(void)
{
    return sizeof(DtComboBoxRec);
}
