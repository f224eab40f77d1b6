// A Rust program that shows a notice with notice.exe and ends with its
// status. Keep notice.exe beside the built program. Build it for Windows:
//
//   rustc --edition 2021 --target x86_64-pc-windows-gnu notice.rs   (for x64/notice.exe)
use std::os::windows::process::CommandExt;
use std::process::{exit, Command};

fn main() {
    let notice = match std::env::current_exe() {
        Ok(path) => path.with_file_name("notice.exe"),
        Err(error) => {
            eprintln!("cannot find this program's folder: {}", error);
            exit(1);
        }
    };
    // Command puts the program's path in double quotes itself, so a folder
    // with blanks is fine. arg() would quote and escape the tail too, and the
    // quotes would show in the box: raw_arg() passes it exactly as notice.exe
    // reads it. In a raw string (r"...") Rust keeps every backslash:
    //   \n   notice.exe makes the line break
    //   \\   one backslash in the box
    //   \,   a comma in the text; the first bare comma starts the caption
    let status = Command::new(&notice)
        .raw_arg(r"Setup needs 20 MB more\, free it on C:\\Temp.\nSee setup.log,Notice Example Rust")
        .status(); // waits until the box is dismissed
    match status {
        Ok(status) => exit(status.code().unwrap_or(1)),
        Err(error) => {
            eprintln!("cannot start {}: {}", notice.display(), error);
            exit(1);
        }
    }
}
