# The all-users folder as the shell reports it, moved about, under a Windows
# Ruby. Moving it changes the registry, so this runs only under Wine in a
# throwaway prefix made by `rake test:windows_ruby`, and refuses elsewhere.
require_relative "../ruby/helper"
require "etc"
require "open3"
require "tmpdir"
require "corsivet"

class CommonAppDataTest < Minitest::Test
  SHELL_FOLDERS = 'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders'.freeze

  # Wine keeps a registry key of its own, and the lane names its prefixes.
  def self.in_throwaway_wine_prefix?
    return @in_throwaway_wine_prefix if defined?(@in_throwaway_wine_prefix)

    _, status = Open3.capture2e("reg", "query", 'HKLM\Software\Wine')
    @in_throwaway_wine_prefix = status.success? && File.basename(ENV["WINEPREFIX"].to_s).start_with?("corsivet-wine-")
  end

  # The tests make folders and change the registry: nowhere but here.
  def setup
    raise "refusing to run outside a throwaway Wine prefix" unless self.class.in_throwaway_wine_prefix?
  end

  # Points the shell's all-users folder at `folder` for the block, then back
  # at its default; leaves it as it is for none.
  def with_common_app_data(folder)
    return yield unless folder

    set_common_app_data(folder)
    begin
      yield
    ensure
      set_common_app_data("%ProgramData%")
    end
  end

  # Imports a registry file rather than passing the folder on reg's command
  # line: the file is UTF-16, so every name reaches the registry whole,
  # whereas Ruby 2.0 hands a command line to Windows as bytes of the ANSI
  # code page, which cannot spell most of the names.
  def set_common_app_data(folder)
    raise "refusing to change the registry outside a throwaway Wine prefix" unless self.class.in_throwaway_wine_prefix?

    value = "#{folder}\0".encode("UTF-16LE").unpack("C*").map { |byte| format("%02x", byte) }.join(",")
    registry = "Windows Registry Editor Version 5.00\r\n\r\n[#{SHELL_FOLDERS}]\r\n" \
               "\"Common AppData\"=hex(2):#{value}\r\n"
    Dir.mktmpdir("corsivet-registry-") do |folder_of_file|
      file = File.join(folder_of_file, "common-app-data.reg")
      File.binwrite(file, "\uFEFF#{registry}".encode("UTF-16LE"))
      output, status = Open3.capture2e("reg", "import", file.tr("/", "\\"))
      assert status.success?, output
    end
  end

  # Ruby's own Etc.sysconfdir asks the shell the same question, and gives
  # its answer with / for \: a second opinion wherever the folder exists.
  # Ruby 2.0's answers in the ANSI code page, which cannot spell most of the
  # names, and is not asked; from Ruby 2.2 on it answers in UTF-8.
  def test_answers_the_folder_the_shell_reports_as_utf8
    second_opinion = Etc.respond_to?(:sysconfdir) && Etc.sysconfdir.encoding == Encoding::UTF_8
    {
      "the prefix's own folder" => [nil, "C:\\ProgramData"],
      "a Latin-1 name" => ["C:\\Données", "C:\\Données"],
      "a Cyrillic name" => ["C:\\Общие данные", "C:\\Общие данные"],
      "a CJK name" => ["C:\\共有データ", "C:\\共有データ"],
      "a folder that does not exist" => ["C:\\Missing folder", ""],
    }.each do |name, (folder, expected)|
      Dir.mkdir(folder) if expected == folder && !Dir.exist?(folder)
      answer, etc = with_common_app_data(folder) { [Veltrane.commonAppDataPath, second_opinion && Etc.sysconfdir] }
      assert_equal expected, answer, name
      assert_equal expected.tr("\\", "/"), etc.encode("UTF-8"), "#{name}: Etc.sysconfdir" if etc && !expected.empty?
      assert_equal Encoding::UTF_8, answer.encoding, name
      assert answer.valid_encoding?, name
    end
  end

  # The lane runs this file a second time under another ANSI code page.
  def test_ansi_code_page_is_the_one_the_lane_asked_for
    expected = ENV["EXPECTED_ANSI_CODE_PAGE"] or skip "no code page asked for"
    assert_equal Encoding.find("CP#{expected}"), Encoding.find("locale")
  end
end
