# The all-users folder as the shell reports it, moved about, under a Windows
# Ruby. Moving it changes the registry, so this runs only under Wine in a
# throwaway prefix made by `rake test:windows_ruby`, and refuses elsewhere.
require "minitest/autorun"
require "open3"
require "Corsivet"

class CommonAppDataTest < Minitest::Test
  SHELL_FOLDERS = 'HKLM\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders'.freeze

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
  # at its default.
  def with_common_app_data(folder)
    set_common_app_data(folder)
    begin
      yield
    ensure
      set_common_app_data("%ProgramData%")
    end
  end

  def set_common_app_data(folder)
    raise "refusing to change the registry outside a throwaway Wine prefix" unless self.class.in_throwaway_wine_prefix?

    output, status = Open3.capture2e("reg", "add", SHELL_FOLDERS, "/v", "Common AppData", "/t", "REG_EXPAND_SZ",
                                     "/d", folder, "/f")
    assert status.success?, output
  end

  def test_answers_the_folder_the_shell_reports_as_utf8
    {
      "the prefix's own folder" => [nil, "C:\\ProgramData"],
      "a Latin-1 name" => ["C:\\Données", "C:\\Données"],
      "a Cyrillic name" => ["C:\\Общие данные", "C:\\Общие данные"],
      "a CJK name" => ["C:\\共有データ", "C:\\共有データ"],
      "a folder that does not exist" => ["C:\\Missing folder", ""],
    }.each do |name, (folder, expected)|
      Dir.mkdir(folder) if expected == folder && !Dir.exist?(folder)
      answer = folder ? with_common_app_data(folder) { Veltrane.commonAppDataPath } : Veltrane.commonAppDataPath
      assert_equal expected, answer, name
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
