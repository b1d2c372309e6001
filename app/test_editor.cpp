// The bench tools' link to the record editor: its metadata dialogue (board
// QA) and its field-by-field listing of the configuration record (test
// menu "S").
#include "app/test.h"

#include "operator/config.h"

void qa_enter_metadata()
{
    enter_metadata();
}

void qa_print_sys_data_structure()
{
    print_sys_data_structure();
}
