// A Go program that shows a notice with notice.exe and ends with its status.
// Keep notice.exe beside the built program. Build it for Windows:
//
//	GOOS=windows GOARCH=386 go build notice.go     (GOARCH=amd64 for x64/notice.exe)
package main

import (
	"errors"
	"fmt"
	"os"
	"os/exec"
	"path/filepath"
	"syscall"
)

func main() {
	self, err := os.Executable()
	if err != nil {
		fmt.Fprintln(os.Stderr, err)
		os.Exit(1)
	}
	notice := filepath.Join(filepath.Dir(self), "notice.exe")
	command := exec.Command(notice)
	// exec.Command would quote and escape each argument, and the quotes would
	// show in the box. CmdLine is the whole command line as it stands, the
	// program first, in double quotes because its folder may hold blanks.
	// After it comes the tail, exactly as notice.exe reads it. In a raw
	// string (backquotes) Go keeps every backslash:
	//   \n   notice.exe makes the line break
	//   \\   one backslash in the box
	//   \,   a comma in the text; the first bare comma starts the caption
	command.SysProcAttr = &syscall.SysProcAttr{
		CmdLine: `"` + notice + `" Setup needs 20 MB more\, free it on C:\\Temp.\nSee setup.log,Notice Example Go`,
	}
	err = command.Run() // waits until the box is dismissed
	var exit *exec.ExitError
	if errors.As(err, &exit) {
		os.Exit(exit.ExitCode())
	}
	if err != nil {
		fmt.Fprintln(os.Stderr, "cannot start notice.exe:", err)
		os.Exit(1)
	}
}
