require_relative "helper"
require "corsivet"

# The function under threads, garbage-collector pressure and callers that
# change what they were given. Bounded in count; no timing is asserted.
class CorsivetStressTest < Minitest::Test
  EXPECTED = Veltrane.commonAppDataPath.freeze

  def assert_sound_answer(answer)
    assert_equal EXPECTED, answer
    assert_equal Encoding::UTF_8, answer.encoding
    assert answer.valid_encoding?
  end

  def test_threads_calling_together_all_get_the_folder
    threads = Array.new(8) { Thread.new { Array.new(2_000) { Veltrane.commonAppDataPath } } }
    answers = threads.flat_map(&:value)
    assert_equal 16_000, answers.size
    answers.uniq.each { |answer| assert_sound_answer(answer) }
    assert_equal answers.size, answers.map(&:object_id).uniq.size
  end

  # Under GC.stress every allocation collects, so each call meets a
  # collection at each point it allocates: a few hundred calls show what
  # thousands would, and stay quick where the interpreter is emulated.
  def test_calls_under_gc_stress_stay_sound
    answers = []
    GC.stress = true
    begin
      200.times { answers << Veltrane.commonAppDataPath }
    ensure
      GC.stress = false
    end
    answers.each { |answer| assert_sound_answer(answer) }
  end

  def test_changes_made_by_callers_never_reach_later_answers
    1_000.times do |round|
      answer = Veltrane.commonAppDataPath
      case round % 4
      when 0 then answer << "/extra"
      when 1 then answer.replace("\xff".b)
      when 2 then answer.clear
      else answer.force_encoding(Encoding::BINARY).upcase!
      end
    end
    assert_sound_answer(Veltrane.commonAppDataPath)
  end
end
